// SPDX-License-Identifier: GPL-3.0-or-later
#include "confine/PortalRequest.h"

#include "confine/GuardMessages.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <climits>
#include <cstring>

#include <systemd/sd-bus.h>

namespace pellim {

namespace {

Failure malformed(const QString &what) {
    return Failure{what};
}

// Text a window may show: bounded, and every character printable, so no
// control or direction mark can make it read as something else.
bool isShowable(const QString &text) {
    if (text.size() > kMaxText)
        return false;
    const QList<uint> points = text.toUcs4();
    return std::all_of(points.begin(), points.end(), [](uint c) { return QChar::isPrint(c); });
}

bool readText(sd_bus_message *call, QString *out) {
    const char *text = nullptr;
    if (sd_bus_message_read(call, "s", &text) < 0)
        return false;
    *out = QString::fromUtf8(text);
    return isShowable(*out);
}

// A folder or file as the portal passes it: bytes with one closing NUL.
std::optional<QByteArray> readPath(sd_bus_message *call) {
    const void *bytes = nullptr;
    size_t size = 0;
    if (sd_bus_message_read_array(call, 'y', &bytes, &size) < 0 || size < 2 || size > PATH_MAX)
        return std::nullopt;
    const QByteArray path(static_cast<const char *>(bytes), qsizetype(size) - 1);
    if (static_cast<const char *>(bytes)[size - 1] != '\0' || !path.startsWith('/') ||
        path.contains('\0'))
        return std::nullopt;
    return path;
}

// One filter, "(sa(us))", inside its structure.
std::optional<DialogFilter> readFilter(sd_bus_message *call) {
    DialogFilter filter;
    if (sd_bus_message_enter_container(call, 'r', "sa(us)") <= 0 || !readText(call, &filter.name) ||
        sd_bus_message_enter_container(call, 'a', "(us)") < 0)
        return std::nullopt;
    std::uint32_t kind = 0;
    const char *pattern = nullptr;
    int got;
    while ((got = sd_bus_message_read(call, "(us)", &kind, &pattern)) > 0) {
        const QString text = QString::fromUtf8(pattern);
        if (kind > DialogFilter::MimeType || text.isEmpty() || !isShowable(text) ||
            qsizetype(filter.rules.size()) == kMaxFilterRules)
            return std::nullopt;
        filter.rules.emplace_back(kind, text);
    }
    if (got < 0 || filter.rules.empty() || sd_bus_message_exit_container(call) < 0 ||
        sd_bus_message_exit_container(call) < 0)
        return std::nullopt;
    return filter;
}

std::optional<std::vector<DialogFilter>> readFilters(sd_bus_message *call) {
    std::vector<DialogFilter> filters;
    if (sd_bus_message_enter_container(call, 'a', "(sa(us))") < 0)
        return std::nullopt;
    while (sd_bus_message_at_end(call, false) == 0) {
        std::optional<DialogFilter> filter = readFilter(call);
        if (!filter || qsizetype(filters.size()) == kMaxFilters)
            return std::nullopt;
        filters.push_back(std::move(*filter));
    }
    if (sd_bus_message_exit_container(call) < 0)
        return std::nullopt;
    return filters;
}

bool readBool(sd_bus_message *call, bool *out) {
    int value = 0;
    if (sd_bus_message_read(call, "b", &value) < 0)
        return false;
    *out = value != 0;
    return true;
}

// A token becomes the last element of an object path: a few of [A-Za-z0-9_].
bool isToken(const QString &token) {
    return !token.isEmpty() && token.size() <= kMaxToken &&
           std::all_of(token.begin(), token.end(), [](QChar c) {
               return c.unicode() < 0x80 && (c.isLetterOrNumber() || c == QLatin1Char('_'));
           });
}

// The value of option `key`, whose type is `type`, into `request`; false when
// it is not sound. An option the guard does not know is passed over.
bool readOption(sd_bus_message *call, const QByteArray &key, const char *type,
                FileChooserRequest &request) {
    const auto is = [&](const char *name, const char *wanted) {
        return key == name && std::strcmp(type, wanted) == 0;
    };
    const bool both = is("handle_token", "s") || is("accept_label", "s") || is("modal", "b") ||
                      is("filters", "a(sa(us))") || is("current_filter", "(sa(us))") ||
                      is("current_folder", "ay");
    const bool open = !request.save && (is("multiple", "b") || is("directory", "b"));
    const bool save = request.save && (is("current_name", "s") || is("current_file", "ay"));
    if (!both && !open && !save) {
        static const char *const known[] = {
            "handle_token",   "accept_label", "modal",     "filters",      "current_filter",
            "current_folder", "multiple",     "directory", "current_name", "current_file"};
        // A known option of another type is malformed; one of the other
        // method's, or unknown, is passed over.
        const bool mine = std::any_of(std::begin(known), std::end(known),
                                      [&](const char *name) { return key == name; });
        const bool otherMethods = request.save ? (key == "multiple" || key == "directory")
                                               : (key == "current_name" || key == "current_file");
        return (!mine || otherMethods) && sd_bus_message_skip(call, type) >= 0;
    }
    if (key == "handle_token")
        return readText(call, &request.token) && isToken(request.token);
    if (key == "accept_label")
        return readText(call, &request.acceptLabel);
    if (key == "modal")
        return readBool(call, &request.modal);
    if (key == "multiple")
        return readBool(call, &request.multiple);
    if (key == "directory")
        return readBool(call, &request.directory);
    if (key == "current_name")
        return readText(call, &request.currentName) && isPlainName(request.currentName);
    if (key == "filters") {
        std::optional<std::vector<DialogFilter>> filters = readFilters(call);
        request.filters = filters.value_or(std::vector<DialogFilter>());
        return filters.has_value();
    }
    if (key == "current_filter") {
        request.currentFilter = readFilter(call);
        return request.currentFilter.has_value();
    }
    std::optional<QByteArray> path = readPath(call);
    (key == "current_folder" ? request.currentFolder : request.currentFile) =
        path.value_or(QByteArray());
    return path.has_value();
}

Outcome readParent(const char *text, FileChooserRequest &request) {
    const QByteArray parent(text);
    if (parent.isEmpty())
        return done();
    if (parent.startsWith("x11:")) {
        const QByteArray hex = parent.mid(4);
        bool ok = false;
        request.x11Window = hex.size() <= 8 ? hex.toULongLong(&ok, 16) : 0;
        // Qt names no parent as "x11:0".
        if (ok && !hex.startsWith('+') && !hex.startsWith('-'))
            return done();
    } else if (parent.startsWith("wayland:")) {
        request.exported = parent.mid(8);
        if (!request.exported.isEmpty() && isExportedHandle(request.exported))
            return done();
    }
    return malformed(QStringLiteral("the parent window is neither \"\", x11:<hex> nor "
                                    "wayland:<handle>"));
}

} // namespace

Result<FileChooserRequest> readFileChooserRequest(sd_bus_message *call, bool save) {
    FileChooserRequest request;
    request.save = save;
    const char *parent = nullptr;
    const char *title = nullptr;
    if (sd_bus_message_read(call, "ss", &parent, &title) < 0)
        return malformed(QStringLiteral("its arguments are not (s, s, a{sv})"));
    if (const Outcome parentRead = readParent(parent, request); !parentRead)
        return parentRead.failure();
    request.title = QString::fromUtf8(title);
    if (!isShowable(request.title))
        return malformed(QStringLiteral("its title is longer than %1 characters or not "
                                        "printable")
                             .arg(kMaxText));
    if (sd_bus_message_enter_container(call, 'a', "{sv}") < 0)
        return malformed(QStringLiteral("its options are not a{sv}"));
    qsizetype count = 0;
    int entered;
    while ((entered = sd_bus_message_enter_container(call, 'e', "sv")) > 0) {
        const char *key = nullptr;
        const char *type = nullptr;
        if (++count > kMaxOptions)
            return malformed(QStringLiteral("it has more than %1 options").arg(kMaxOptions));
        if (sd_bus_message_read(call, "s", &key) < 0 ||
            sd_bus_message_peek_type(call, nullptr, &type) < 0 || !type)
            return malformed(QStringLiteral("an option cannot be read"));
        const QByteArray name(key);
        const bool entering = sd_bus_message_enter_container(call, 'v', type) > 0;
        if (!entering || !readOption(call, name, type, request) ||
            sd_bus_message_exit_container(call) < 0)
            return malformed(
                QStringLiteral("its option \"%1\" (%2) is not sound")
                    .arg(QString::fromUtf8(name.left(kMaxText)), QString::fromLatin1(type)));
        if (sd_bus_message_exit_container(call) < 0)
            return malformed(QStringLiteral("an option cannot be read"));
    }
    if (entered < 0 || sd_bus_message_exit_container(call) < 0)
        return malformed(QStringLiteral("its options cannot be read"));
    if (request.currentFilter && request.filters.empty())
        request.filters.push_back(*request.currentFilter);
    return request;
}

namespace {

QString translated(const char *text) {
    return QCoreApplication::translate("pellim::FileDialogs", text);
}

// The confirm button of a program's Open dialog: one of the guard's own
// labels, the one the program names where it names one of them (in the
// person's language or in English, with or without a mnemonic), else the
// guard's word for what is chosen. No program can label it with something
// that reads as cancel.
QString acceptLabelOf(const FileChooserRequest &request) {
    static const char *const labels[] = {
        QT_TRANSLATE_NOOP("pellim::FileDialogs", "Open"),
        QT_TRANSLATE_NOOP("pellim::FileDialogs", "Select File"),
        QT_TRANSLATE_NOOP("pellim::FileDialogs", "Select Folder"),
    };
    QString asked = request.acceptLabel;
    asked.remove(QLatin1Char('_')).remove(QLatin1Char('&'));
    for (const char *label : labels) {
        if (asked.compare(QLatin1String(label), Qt::CaseInsensitive) == 0 ||
            asked.compare(translated(label).remove(QLatin1Char('&')), Qt::CaseInsensitive) == 0)
            return translated(label);
    }
    return request.directory ? translated(labels[2]) : translated(labels[0]);
}

ProgramDialog programDialogOf(const FileChooserRequest &request, const QString &program) {
    ProgramDialog dialog;
    dialog.program = program;
    dialog.title = request.title;
    dialog.filters = request.filters;
    if (request.currentFilter) {
        const auto found =
            std::find(dialog.filters.begin(), dialog.filters.end(), *request.currentFilter);
        dialog.currentFilter =
            found == dialog.filters.end() ? -1 : int(std::distance(dialog.filters.begin(), found));
    }
    dialog.startFolder = request.currentFolder;
    if (request.save && !request.currentFile.isEmpty() && request.currentFolder.isEmpty())
        dialog.startFolder = FileUrl::fromLocalBytes(request.currentFile, false)
                                 .deletingLastPathComponent()
                                 .pathBytes();
    return dialog;
}

} // namespace

OpenDialogOptions openOptionsOf(const FileChooserRequest &request, const QString &program) {
    OpenDialogOptions options;
    options.canChooseDirectories = request.directory;
    options.canChooseFiles = !request.directory;
    options.textTypesOnly = false;
    options.multiple = request.multiple;
    options.prompt = acceptLabelOf(request);
    options.program = programDialogOf(request, program);
    return options;
}

SaveDialogOptions saveOptionsOf(const FileChooserRequest &request, const QString &program) {
    SaveDialogOptions options;
    options.canCreateDirectories = true;
    options.textTypesOnly = false;
    options.suggestedName = request.currentName;
    if (options.suggestedName.isEmpty() && !request.currentFile.isEmpty()) {
        const QByteArray name = request.currentFile.mid(request.currentFile.lastIndexOf('/') + 1);
        if (isPlainName(QFile::decodeName(name)))
            options.suggestedName = QFile::decodeName(name);
    }
    options.program = programDialogOf(request, program);
    return options;
}

namespace {

QStringList choiceUris(const std::vector<FileUrl> &chosen) {
    QStringList uris;
    for (const FileUrl &url : chosen)
        uris += QStringLiteral("file://") +
                FileUrl::fromLocalBytes(url.pathBytes(), false).encodedPath();
    return uris;
}

int appendFilter(sd_bus_message *m, const DialogFilter &filter) {
    int rc = sd_bus_message_open_container(m, 'r', "sa(us)");
    rc = rc < 0 ? rc : sd_bus_message_append(m, "s", filter.name.toUtf8().constData());
    rc = rc < 0 ? rc : sd_bus_message_open_container(m, 'a', "(us)");
    for (const auto &[kind, pattern] : filter.rules)
        rc = rc < 0 ? rc : sd_bus_message_append(m, "(us)", kind, pattern.toUtf8().constData());
    rc = rc < 0 ? rc : sd_bus_message_close_container(m);
    return rc < 0 ? rc : sd_bus_message_close_container(m);
}

} // namespace

int appendResponse(sd_bus_message *m, std::uint32_t response, const std::vector<FileUrl> &chosen,
                   int filter, const std::vector<DialogFilter> &filters) {
    const bool results = response == 0 && !chosen.empty();
    int rc = sd_bus_message_append(m, "u", response);
    rc = rc < 0 ? rc : sd_bus_message_open_container(m, 'a', "{sv}");
    // "uris" is in every Response, empty where nothing was chosen: GTK 3's
    // client walks it without looking whether it is there, and crashes.
    rc = rc < 0 ? rc : sd_bus_message_open_container(m, 'e', "sv");
    rc = rc < 0 ? rc : sd_bus_message_append(m, "s", "uris");
    rc = rc < 0 ? rc : sd_bus_message_open_container(m, 'v', "as");
    rc = rc < 0 ? rc : sd_bus_message_open_container(m, 'a', "s");
    if (results)
        for (const QString &uri : choiceUris(chosen))
            rc = rc < 0 ? rc : sd_bus_message_append(m, "s", uri.toUtf8().constData());
    for (int close = 0; close < 3; ++close) // the array, the variant, the entry
        rc = rc < 0 ? rc : sd_bus_message_close_container(m);
    if (results && filter >= 0 && std::size_t(filter) < filters.size()) {
        rc = rc < 0 ? rc : sd_bus_message_open_container(m, 'e', "sv");
        rc = rc < 0 ? rc : sd_bus_message_append(m, "s", "current_filter");
        rc = rc < 0 ? rc : sd_bus_message_open_container(m, 'v', "(sa(us))");
        rc = rc < 0 ? rc : appendFilter(m, filters[std::size_t(filter)]);
        for (int close = 0; close < 2; ++close) // the variant, the entry
            rc = rc < 0 ? rc : sd_bus_message_close_container(m);
    }
    return rc < 0 ? rc : sd_bus_message_close_container(m);
}

} // namespace pellim
