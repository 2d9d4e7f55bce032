// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "confine/GuardMessages.h"
#include "panels/FileDialogs.h"

#include <QByteArray>

#include <cstdint>
#include <map>

namespace pellim {

class GuardChannel;

// The file dialogs of a confined Pellim: the guard process shows them, so that
// browsing a guarded folder asks nothing and a choice grants access where no
// code in Pellim can forge it. Each completion runs when the guard's answer
// arrives; once the guard is gone, none runs.
class GuardFileDialogs final : public FileDialogs {
public:
    explicit GuardFileDialogs(GuardChannel &channel);
    ~GuardFileDialogs() override;

    void beginSave(QWidget *parent, const SaveDialogOptions &options,
                   DialogCompletion completion) override;
    void beginOpen(QWidget *parent, const OpenDialogOptions &options,
                   DialogCompletion completion) override;

private:
    void begin(GuardRequest request, QWidget *parent, DialogCompletion completion);
    void replied(const QByteArray &message);

    GuardChannel &m_channel;
    std::uint32_t m_lastId = 0;
    std::map<std::uint32_t, DialogCompletion> m_pending;
};

// The X window of `widget`'s window, for the guard to stay on top of; 0 where
// windows are not X windows.
std::uint64_t foreignWindowId(QWidget *widget);

// Names `widget`'s window in `request` as the one the guard's windows stay on
// top of: its X window, or under Wayland its xdg-foreign handle.
void nameParent(GuardRequest &request, QWidget *widget);

} // namespace pellim
