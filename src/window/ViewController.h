// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "files/FileUrl.h"
#include "journal/Log.h"
#include "window/Services.h"

#include <QList>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QComboBox;
class QLineEdit;
class QAction;

namespace Ui {
class ViewController;
}

namespace pellim {

// The main window and the state all six tests share. The window itself is
// defined in ViewController.cpp and FolderSelection.cpp, the three writing tests
// in WriteActions.cpp and the three reading tests in ReadActions.cpp.
class ViewController : public QMainWindow {
    Q_OBJECT

public:
    explicit ViewController(const Services &services, QWidget *parent = nullptr);
    ~ViewController() override;

    // Which caller a folder pick serves; they differ in how the folder is named.
    enum class PickVariant { Consent, ChosenFolder };

    // Shared state.
    const LogHandle gen_log;
    const QString textOutput;
    QStringList theSpecFolderList;
    QList<FileUrl> theSpecDirs;

    // Outlets, connected from the .ui form.
    QLineEdit *openedText = nullptr;
    QLineEdit *fileName = nullptr;
    QComboBox *folderList = nullptr;

    // The menu commands that open a help window and the About box.
    QAction *helpAction() const;
    QAction *aboutAction() const;

    std::optional<FileUrl> selectedProtectedFolder() const;

    void writeTestFile(const FileUrl &target);
    void showWriteFailureAlert(const QString &encodedPath);

    bool readAndShow(const FileUrl &file, bool reportFailure);
    void pickTextFile(const FileUrl &folder, PickVariant variant);

    const Services &services() const { return m_services; }

public Q_SLOTS:
    void doSaveIntent();
    void doSaveToFolder();
    void doSaveConsent();
    void doOpenIntent();
    void doOpenConsent();
    void doOpenFolder();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void windowSetUp();
    // Every entry of the window's own reads "Pellim: " followed by the message,
    // which is data, never a format.
    void logInfo(const QString &message) const;
    void logError(const QString &message) const;
    // Ends a folder pick that found no text: the status in File, Text emptied,
    // an error entry.
    void endPickWithoutText(PickVariant variant, const QString &status,
                            const QString &errorMessage);
    // The folder list's behaviour while typing.
    void setUpFolderList();

    Services m_services;
    std::unique_ptr<Ui::ViewController> m_ui;
};

} // namespace pellim
