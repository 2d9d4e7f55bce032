// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/GuardProcess.h"

#include "confine/GuardLink.h"
#include "confine/Supervisor.h"
#include "consent/FolderGuard.h"
#include "journal/JournalSink.h"
#include "journal/Log.h"
#include "panels/AppIdentity.h"
#include "panels/ConsentDialog.h"
#include "panels/FileDialogs.h"
#include "panels/FolderAccessWindow.h"
#include "panels/GuardDialogs.h"
#include "sys/Descriptor.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QWindow>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include <poll.h>

namespace pellim {

namespace {

class GuardProcess {
public:
    GuardProcess(UniqueFd channel, int &argc, char **argv)
        : m_channelFd(std::move(channel)), m_argc(argc), m_argv(argv),
          m_log(m_journal, QStringLiteral("org.pellim.FolderGuard"), QStringLiteral("decisions")),
          m_prompter([this] {
              showable();
              return pellimWindow();
          }),
          m_guard(m_journal, m_prompter) {}

    int run(const std::vector<QByteArray> &guarded, const std::vector<QByteArray> &sealed);

private:
    void showable();
    QWindow *foreign(std::uint64_t window);
    QWindow *pellimWindow() { return foreign(m_mainWindow); }
    bool answerCall();
    void serve(const QByteArray &message);
    void end(int status);

    UniqueFd m_channelFd; // until the channel gets its notifier
    int &m_argc;
    char **m_argv;
    JournalSink m_journal;
    LogHandle m_log;
    DialogConsentPrompter m_prompter;
    FolderGuard m_guard;
    std::unique_ptr<Supervisor> m_supervisor;
    // Declared after what they use, so they go first.
    std::unique_ptr<QApplication> m_app;
    std::unique_ptr<QtFileDialogs> m_dialogs;
    std::unique_ptr<FolderAccessWindow> m_folderAccess;
    std::unique_ptr<GuardChannel> m_channel;
    std::unique_ptr<QSocketNotifier> m_calls;
    std::map<std::uint64_t, std::unique_ptr<QWindow>> m_foreign;
    std::uint64_t m_mainWindow = 0;
    bool m_ended = false;
    int m_status = 0;
};

int GuardProcess::run(const std::vector<QByteArray> &guarded,
                      const std::vector<QByteArray> &sealed) {
    UniqueFd listener;
    // Nothing but the end: Pellim could not confine itself and guards alone.
    if (!receiveMessage(m_channelFd.get(), &listener) || !listener.isValid())
        return 0;
    QString why;
    m_supervisor = Supervisor::create(std::move(listener), m_guard, guarded, sealed, &why);
    if (!m_supervisor) {
        m_log.write(LogLevel::Error, QStringLiteral("Folder guard: cannot start: ") + why);
        return 1;
    }
    // Answering begins at once: Pellim's start waits on its first calls, and a
    // display connection would only hold them up.
    while (!m_app && !m_ended) {
        pollfd ready[2] = {{m_supervisor->listener(), POLLIN, 0}, {m_channelFd.get(), POLLIN, 0}};
        if (::poll(ready, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            m_log.write(LogLevel::Error,
                        QStringLiteral("Folder guard: cannot wait for calls: ") + errnoText(errno));
            return 1;
        }
        if (ready[0].revents && !answerCall())
            break;
        if (m_app || m_ended || !ready[1].revents)
            continue;
        const std::optional<QByteArray> message = receiveMessage(m_channelFd.get());
        if (!message)
            return 0; // Pellim is gone
        serve(*message);
    }
    if (m_ended)
        return m_status;
    return m_app ? m_app->exec() : m_status;
}

bool GuardProcess::answerCall() {
    int error = 0;
    switch (m_supervisor->handleOne(&error)) {
    case Supervisor::Result::Answered:
        return true;
    case Supervisor::Result::Gone:
        end(0);
        return false;
    case Supervisor::Result::Failed:
        m_log.write(LogLevel::Error, QStringLiteral("Folder guard: cannot read Pellim's calls: ") +
                                         errnoText(error));
        end(1);
        return false;
    }
    return false;
}

void GuardProcess::end(int status) {
    m_ended = true;
    m_status = status;
    if (m_app)
        m_app->exit(status);
}

// The display, the event loop and the dialogs, made when first needed.
void GuardProcess::showable() {
    if (m_app)
        return;
    m_app = std::make_unique<QApplication>(m_argc, m_argv);
    configureApplication(*m_app);
    m_dialogs = std::make_unique<QtFileDialogs>(m_guard);
    m_channel = std::make_unique<GuardChannel>(std::move(m_channelFd));
    QObject::connect(m_channel.get(), &GuardChannel::received, m_channel.get(),
                     [this](const QByteArray &message) { serve(message); });
    QObject::connect(m_channel.get(), &GuardChannel::closed, m_channel.get(), [this] { end(0); });
    m_calls = std::make_unique<QSocketNotifier>(m_supervisor->listener(), QSocketNotifier::Read);
    // A prompt's event loop keeps this going: calls of Pellim's other threads
    // are answered while one waits for the person.
    QObject::connect(m_calls.get(), &QSocketNotifier::activated, m_calls.get(), [this] {
        if (!answerCall())
            m_calls->setEnabled(false);
    });
}

QWindow *GuardProcess::foreign(std::uint64_t window) {
    if (!window || QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    std::unique_ptr<QWindow> &found = m_foreign[window];
    if (!found)
        found.reset(QWindow::fromWinId(WId(window)));
    return found.get();
}

void GuardProcess::serve(const QByteArray &message) {
    const std::optional<GuardRequest> request = decodeRequest(message);
    if (!request)
        return;
    if (request->kind != GuardRequestKind::MainWindow)
        showable();
    const auto reply = [this, id = request->id](int response, std::optional<FileUrl> chosen) {
        if (m_channel)
            m_channel->send(encodeReply(GuardReply{id, response, std::move(chosen)}));
    };
    switch (request->kind) {
    case GuardRequestKind::MainWindow:
        m_mainWindow = request->window;
        break;
    case GuardRequestKind::Save:
        m_dialogs->setTransientFor(foreign(request->window));
        m_dialogs->beginSave(nullptr, request->save, reply);
        break;
    case GuardRequestKind::Open:
        m_dialogs->setTransientFor(foreign(request->window));
        m_dialogs->beginOpen(nullptr, request->open, reply);
        break;
    case GuardRequestKind::FolderAccess:
        if (!m_folderAccess)
            m_folderAccess = std::make_unique<FolderAccessWindow>(m_journal);
        if (QWindow *over = foreign(request->window)) {
            m_folderAccess->winId();
            m_folderAccess->windowHandle()->setTransientParent(over);
        }
        m_folderAccess->show();
        m_folderAccess->raise();
        m_folderAccess->activateWindow();
        break;
    }
}

} // namespace

int runGuardProcess(UniqueFd channel, int &argc, char **argv, std::vector<QByteArray> guarded,
                    std::vector<QByteArray> sealed) {
    GuardProcess guard(std::move(channel), argc, argv);
    return guard.run(guarded, sealed);
}

} // namespace pellim
