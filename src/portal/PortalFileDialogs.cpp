// SPDX-License-Identifier: GPL-3.0-or-later
#include "portal/PortalFileDialogs.h"

#include "files/FileUrl.h"
#include "paths/FolderProtection.h"
#include "portal/PortalResponse.h"
#include "portal/ResponseListener.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <functional>
#include <vector>

namespace pellim {

namespace {

// How long the portal may take to say it is there, and to take a request; past
// that the person gets Qt's dialog rather than none.
constexpr int kAnswerMs = 3000;
// The option "directory" came with version 3; "current_folder" for OpenFile
// with version 4.
constexpr unsigned kDirectoryVersion = 3;
constexpr unsigned kOpenFolderVersion = 4;

// A filter as the portal takes it: a name and (kind, pattern) pairs, kind 1
// being a MIME type.
struct FilterRule {
    unsigned kind = 0;
    QString pattern;
};
struct Filter {
    QString name;
    QList<FilterRule> rules;
};

QDBusArgument &operator<<(QDBusArgument &out, const FilterRule &rule) {
    out.beginStructure();
    out << rule.kind << rule.pattern;
    out.endStructure();
    return out;
}
const QDBusArgument &operator>>(const QDBusArgument &in, FilterRule &rule) {
    in.beginStructure();
    in >> rule.kind >> rule.pattern;
    in.endStructure();
    return in;
}
QDBusArgument &operator<<(QDBusArgument &out, const Filter &filter) {
    out.beginStructure();
    out << filter.name << filter.rules;
    out.endStructure();
    return out;
}
const QDBusArgument &operator>>(const QDBusArgument &in, Filter &filter) {
    in.beginStructure();
    in >> filter.name >> filter.rules;
    in.endStructure();
    return in;
}

} // namespace
} // namespace pellim

Q_DECLARE_METATYPE(pellim::FilterRule)
Q_DECLARE_METATYPE(pellim::Filter)

namespace pellim {

struct PortalFileDialogs::Pending {
    // Replies find their dialog by this, never by its address, which a later
    // dialog may have.
    std::uint64_t serial = 0;
    bool save = false;
    bool folder = false; // a folder is to be chosen
    SaveDialogOptions saveOptions;
    OpenDialogOptions openOptions;
    QWidget *parent = nullptr;
    QPointer<QWidget> parentAlive;
    QPointer<QObject> closeWith;
    PlaceOver placeOver;
    QString handle;
    DialogChoices completion;
    QString what;    // "the Save dialog", for the entries
    QString owner;   // the portal's unique bus name, the only sender believed
    QString request; // the Request object listened on
    std::unique_ptr<ResponseListener> listener;
};

struct PortalFileDialogs::Bus {
    QDBusConnection connection = QDBusConnection::sessionBus();
    std::vector<std::unique_ptr<Pending>> pending;
    // Receives every reply: the replies of dialogs still asked for go with it.
    QObject context;
    std::unique_ptr<QDBusServiceWatcher> watcher;

    std::vector<std::unique_ptr<Pending>>::iterator find(const Pending *dialog) {
        return std::find_if(pending.begin(), pending.end(),
                            [dialog](const auto &p) { return p.get() == dialog; });
    }
    // The dialog `serial` names while it is still asked for, else none.
    Pending *asked(std::uint64_t serial) const {
        const auto found = std::find_if(pending.begin(), pending.end(),
                                        [serial](const auto &p) { return p->serial == serial; });
        return found == pending.end() ? nullptr : found->get();
    }
};

namespace {

QString translated(const char *text) {
    return QCoreApplication::translate("pellim::PortalFileDialogs", text);
}

QVariant textFilters() {
    const Filter text{translated(QT_TRANSLATE_NOOP("pellim::PortalFileDialogs", "Text files")),
                      {FilterRule{1, QStringLiteral("text/plain")}}};
    return QVariant::fromValue(QList<Filter>{text});
}

// A folder as the portal takes it: its bytes with a closing NUL.
QVariant folderBytes(const QByteArray &folder) {
    QByteArray bytes = folder;
    bytes.append('\0');
    return QVariant::fromValue(bytes);
}

Filter filterOf(const DialogFilter &filter) {
    Filter out{filter.name, {}};
    for (const auto &[kind, pattern] : filter.rules)
        out.rules += FilterRule{kind, pattern};
    return out;
}

// Which of `program`'s filters the results name as the one shown at the end;
// -1 for none of them.
int chosenFilter(const ProgramDialog &program, const QVariantMap &results) {
    const QVariant named = results.value(QStringLiteral("current_filter"));
    if (!named.canConvert<QDBusArgument>())
        return -1;
    const Filter filter = qdbus_cast<Filter>(named);
    for (std::size_t i = 0; i < program.filters.size(); ++i) {
        if (filterOf(program.filters[i]).name == filter.name)
            return int(i);
    }
    return -1;
}

} // namespace

PortalFileDialogs::PortalFileDialogs(FolderProtection &protection, QtFileDialogs &fallback,
                                     LogHandle log)
    : m_protection(protection), m_fallback(fallback), m_log(std::move(log)),
      m_bus(std::make_unique<Bus>()) {
    qDBusRegisterMetaType<FilterRule>();
    qDBusRegisterMetaType<QList<FilterRule>>();
    qDBusRegisterMetaType<Filter>();
    qDBusRegisterMetaType<QList<Filter>>();
    if (!m_bus->connection.isConnected())
        return;
    // A portal that leaves the bus answers none of its dialogs any more. Its
    // unique name is watched, not the well-known one, which another portal may
    // take over without the first one ending.
    m_bus->watcher = std::make_unique<QDBusServiceWatcher>(
        QString(), m_bus->connection, QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(m_bus->watcher.get(), &QDBusServiceWatcher::serviceUnregistered,
                     &m_bus->context, [this](const QString &name) { portalGone(name); });
}

PortalFileDialogs::~PortalFileDialogs() = default;

void PortalFileDialogs::setParent(PlaceOver placeOver, const QString &portalHandle) {
    m_placeOver = std::move(placeOver);
    m_portalHandle = portalHandle;
}

int PortalFileDialogs::waiting() const {
    return int(m_bus->pending.size());
}

void PortalFileDialogs::chooseSave(QWidget *parent, const SaveDialogOptions &options,
                                   DialogChoices completion, QObject *closeWith) {
    auto dialog = std::make_unique<Pending>();
    dialog->closeWith = closeWith;
    dialog->save = true;
    dialog->saveOptions = options;
    dialog->parent = parent;
    dialog->completion = std::move(completion);
    dialog->what = QStringLiteral("the Save dialog");
    begin(std::move(dialog));
}

void PortalFileDialogs::chooseOpen(QWidget *parent, const OpenDialogOptions &options,
                                   DialogChoices completion, QObject *closeWith) {
    auto dialog = std::make_unique<Pending>();
    dialog->closeWith = closeWith;
    dialog->openOptions = options;
    dialog->folder = options.canChooseDirectories && !options.canChooseFiles;
    dialog->parent = parent;
    dialog->completion = std::move(completion);
    dialog->what =
        dialog->folder ? QStringLiteral("the folder dialog") : QStringLiteral("the Open dialog");
    begin(std::move(dialog));
}

void PortalFileDialogs::begin(std::unique_ptr<Pending> dialog) {
    dialog->parentAlive = dialog->parent;
    dialog->placeOver = m_placeOver;
    dialog->handle = m_portalHandle;
    dialog->serial = ++m_lastSerial;
    Pending *asked = dialog.get();
    if (asked->closeWith) {
        // The program that asked closed its request: the portal's chooser goes
        // too (Qt's, once it stands in, closes by itself).
        QObject::connect(
            asked->closeWith, &QObject::destroyed, &m_bus->context, [this, serial = asked->serial] {
                Pending *closed = m_bus->asked(serial);
                if (!closed)
                    return;
                if (!closed->request.isEmpty())
                    m_bus->connection.send(QDBusMessage::createMethodCall(
                        closed->owner, closed->request, kPortalRequest, QStringLiteral("Close")));
                ended(closed, QStringLiteral("closed by the program that asked"));
            });
    }
    m_bus->pending.push_back(std::move(dialog));
    if (!m_bus->connection.isConnected()) {
        fallBack(asked, QStringLiteral("no session bus"));
        return;
    }
    // Asking for the version finds out at once whether a portal is there (or
    // can be started) and what it can do.
    QDBusMessage get = QDBusMessage::createMethodCall(
        kPortalService, kPortalObject, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kPortalChooser << QStringLiteral("version");
    auto *watcher =
        new QDBusPendingCallWatcher(m_bus->connection.asyncCall(get, kAnswerMs), &m_bus->context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &m_bus->context,
                     [this, serial = asked->serial, watcher] {
                         watcher->deleteLater();
                         Pending *asked = m_bus->asked(serial);
                         if (!asked)
                             return;
                         const QDBusPendingReply<QDBusVariant> reply = *watcher;
                         if (reply.isError()) {
                             const QDBusError error = reply.error();
                             fallBack(asked, error.type() == QDBusError::NoReply
                                                 ? QStringLiteral("the file chooser portal did "
                                                                  "not answer within 3 s")
                                                 : QStringLiteral("no file chooser portal on the "
                                                                  "session bus: ") +
                                                       error.name());
                             return;
                         }
                         call(asked, reply.reply().service(), reply.value().variant().toUInt());
                     });
}

void PortalFileDialogs::call(Pending *dialog, const QString &owner, unsigned version) {
    if (dialog->folder && version < kDirectoryVersion) {
        fallBack(dialog, QStringLiteral("the file chooser portal is version %1, and choosing a "
                                        "folder needs version %2")
                             .arg(version)
                             .arg(kDirectoryVersion));
        return;
    }
    const QString token = QStringLiteral("pellim%1").arg(++m_lastToken);
    dialog->owner = owner;
    if (!m_bus->watcher->watchedServices().contains(owner))
        m_bus->watcher->addWatchedService(owner);
    dialog->request = portalRequestPath(m_bus->connection.baseService(), token);
    // Listening before the call: a Response may come before the call's reply.
    dialog->listener = std::make_unique<ResponseListener>([this, dialog](const QDBusMessage &m) {
        // Only the portal that took the request may answer it.
        if (m.service() != dialog->owner || m.arguments().size() < 2)
            return;
        answered(dialog, m.arguments().at(0).toUInt(),
                 qdbus_cast<QVariantMap>(m.arguments().at(1)));
    });
    if (!m_bus->connection.connect(owner, dialog->request, kPortalRequest,
                                   QStringLiteral("Response"), dialog->listener.get(),
                                   SLOT(response(QDBusMessage)))) {
        dialog->listener.reset();
        fallBack(dialog, QStringLiteral("cannot listen for the file chooser portal's answer"));
        return;
    }

    QVariantMap options{{QStringLiteral("handle_token"), token},
                        // Shown as the Qt dialogs are, modelessly.
                        {QStringLiteral("modal"), false}};
    const ProgramDialog &program =
        dialog->save ? dialog->saveOptions.program : dialog->openOptions.program;
    QString title;
    if (dialog->save) {
        title = dialogTitle(dialog->saveOptions);
        if (!dialog->saveOptions.suggestedName.isEmpty())
            options.insert(QStringLiteral("current_name"), dialog->saveOptions.suggestedName);
        if (dialog->saveOptions.textTypesOnly)
            options.insert(QStringLiteral("filters"), textFilters());
    } else {
        title = dialogTitle(dialog->openOptions);
        options.insert(QStringLiteral("multiple"), dialog->openOptions.multiple);
        if (dialog->folder)
            options.insert(QStringLiteral("directory"), true);
        else if (dialog->openOptions.textTypesOnly)
            options.insert(QStringLiteral("filters"), textFilters());
        if (!dialog->openOptions.prompt.isEmpty())
            options.insert(QStringLiteral("accept_label"), dialog->openOptions.prompt);
    }
    if (!program.filters.empty()) {
        QList<Filter> filters;
        for (const DialogFilter &filter : program.filters)
            filters += filterOf(filter);
        options.insert(QStringLiteral("filters"), QVariant::fromValue(filters));
        if (program.currentFilter >= 0)
            options.insert(QStringLiteral("current_filter"),
                           QVariant::fromValue(filters.at(program.currentFilter)));
    }
    // The program's folder; else, as the desktop's own dialogs do, the folder
    // of the last choice, in this chooser or in Qt's, else the home folder.
    if (dialog->save || version >= kOpenFolderVersion) {
        const QByteArray &last = m_fallback.lastFolder();
        options.insert(QStringLiteral("current_folder"),
                       folderBytes(!program.startFolder.isEmpty() ? program.startFolder
                                   : last.isEmpty() ? QFile::encodeName(QDir::homePath())
                                                    : last));
    }

    QDBusMessage message = QDBusMessage::createMethodCall(
        owner, kPortalObject, kPortalChooser,
        dialog->save ? QStringLiteral("SaveFile") : QStringLiteral("OpenFile"));
    message << dialog->handle << title << options;
    auto *watcher = new QDBusPendingCallWatcher(m_bus->connection.asyncCall(message, kAnswerMs),
                                                &m_bus->context);
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, &m_bus->context,
        [this, serial = dialog->serial, watcher] {
            watcher->deleteLater();
            Pending *dialog = m_bus->asked(serial);
            if (!dialog)
                return; // answered already, or the portal has gone
            const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
            if (reply.isError()) {
                // A request the portal takes after all must not show a second
                // dialog: it is closed.
                m_bus->connection.send(QDBusMessage::createMethodCall(
                    dialog->owner, dialog->request, kPortalRequest, QStringLiteral("Close")));
                fallBack(dialog, reply.error().type() == QDBusError::NoReply
                                     ? QStringLiteral("the file chooser portal did not take the "
                                                      "request within 3 s")
                                     : QStringLiteral("the file chooser portal refused it: ") +
                                           reply.error().name());
                return;
            }
            const QString handle = reply.value().path();
            if (handle != dialog->request) {
                // A portal older than handle_token answers on its own path.
                m_bus->connection.disconnect(dialog->owner, dialog->request, kPortalRequest,
                                             QStringLiteral("Response"), dialog->listener.get(),
                                             SLOT(response(QDBusMessage)));
                dialog->request = handle;
                m_bus->connection.connect(dialog->owner, handle, kPortalRequest,
                                          QStringLiteral("Response"), dialog->listener.get(),
                                          SLOT(response(QDBusMessage)));
            }
            m_log.write(LogLevel::Info, QStringLiteral("Folder guard: %1 is the desktop's file "
                                                       "chooser (portal)")
                                            .arg(dialog->what));
        });
}

void PortalFileDialogs::answered(Pending *dialog, std::uint32_t response,
                                 const QVariantMap &results) {
    const bool multiple = !dialog->save && dialog->openOptions.multiple;
    const PortalAnswer answer = readPortalResponse(response, responseUris(results), multiple);
    switch (answer.outcome) {
    case PortalOutcome::Chosen:
        break;
    case PortalOutcome::Cancelled:
        ended(dialog, QStringLiteral("cancelled (response 1)"));
        return;
    case PortalOutcome::Closed:
        // Response 2 is "ended some other way"; GTK's back-end gives it when
        // the person closes its window without choosing, and the portal when
        // its back-end failed, which it also writes to its own log.
        ended(dialog, QStringLiteral("closed with Escape or the window's close button "
                                     "(response 2)"));
        return;
    case PortalOutcome::Ended:
        ended(dialog, QStringLiteral("ended by the portal (response %1)").arg(response));
        return;
    case PortalOutcome::NoLocalFile:
        ended(dialog, multiple ? QStringLiteral("the portal named something that is no local file")
                               : QStringLiteral("the portal named no single local file"));
        return;
    }
    DialogChoice choice;
    choice.filter = chosenFilter(
        dialog->save ? dialog->saveOptions.program : dialog->openOptions.program, results);
    for (const QByteArray &path : answer.paths) {
        const FileUrl url = FileUrl::fromLocalBytes(path, dialog->folder);
        m_fallback.setLastFolder(dialog->folder ? url.pathBytes()
                                                : url.deletingLastPathComponent().pathBytes());
        // The choice grants access before anyone acts on it.
        m_protection.grantChosen(url.pathBytes(), dialog->folder);
        choice.chosen.push_back(url);
    }
    DialogChoices done = std::move(dialog->completion);
    const bool parentGone = dialog->parent && !dialog->parentAlive;
    ended(dialog, {});
    if (!parentGone)
        done(kResponseOK, std::move(choice));
}

// Ends `dialog` and reports a cancel; `why` is the entry's reason, "" for a
// choice already reported.
void PortalFileDialogs::ended(Pending *dialog, const QString &why) {
    if (dialog->listener)
        m_bus->connection.disconnect(dialog->owner, dialog->request, kPortalRequest,
                                     QStringLiteral("Response"), dialog->listener.get(),
                                     SLOT(response(QDBusMessage)));
    const auto found = m_bus->find(dialog);
    if (found == m_bus->pending.end())
        return;
    const std::unique_ptr<Pending> gone = std::move(*found);
    m_bus->pending.erase(found);
    if (why.isEmpty())
        return;
    m_log.write(LogLevel::Info,
                QStringLiteral("Folder guard: %1 ended without a choice: %2").arg(gone->what, why));
    // Where the dialog's parent went, nobody is left to tell (as with Qt's).
    if (gone->completion && !(gone->parent && !gone->parentAlive))
        gone->completion(kResponseCancel, {});
}

void PortalFileDialogs::fallBack(Pending *dialog, const QString &why) {
    const auto found = m_bus->find(dialog);
    if (found == m_bus->pending.end())
        return;
    const std::unique_ptr<Pending> asked = std::move(*found);
    m_bus->pending.erase(found);
    if (asked->listener)
        m_bus->connection.disconnect(asked->owner, asked->request, kPortalRequest,
                                     QStringLiteral("Response"), asked->listener.get(),
                                     SLOT(response(QDBusMessage)));
    if (asked->parent && !asked->parentAlive)
        return;
    m_log.write(LogLevel::Info,
                QStringLiteral("Folder guard: %1 is Qt's (%2)").arg(asked->what, why));
    m_fallback.setPlaceOver(asked->placeOver);
    // Qt's dialog names its own cancels: it has only the one kind.
    DialogChoices completion = [log = m_log, what = asked->what,
                                done = std::move(asked->completion)](int response,
                                                                     DialogChoice choice) {
        if (response != kResponseOK)
            log.write(
                LogLevel::Info,
                QStringLiteral("Folder guard: %1 ended without a choice: cancelled").arg(what));
        done(response, std::move(choice));
    };
    if (asked->save)
        m_fallback.chooseSave(asked->parent, asked->saveOptions, std::move(completion),
                              asked->closeWith);
    else
        m_fallback.chooseOpen(asked->parent, asked->openOptions, std::move(completion),
                              asked->closeWith);
}

void PortalFileDialogs::portalGone(const QString &name) {
    m_bus->watcher->removeWatchedService(name);
    // Those still asking whether a portal is there hear so from their call.
    std::vector<Pending *> shown;
    for (const auto &dialog : m_bus->pending) {
        if (dialog->listener && dialog->owner == name)
            shown.push_back(dialog.get());
    }
    for (Pending *dialog : shown)
        ended(dialog, QStringLiteral("the file chooser portal left the session bus"));
}

} // namespace pellim
