// SPDX-License-Identifier: GPL-3.0-or-later
// What a program asks of the guard's file chooser portal, and what it is
// answered: an option misread shows a dialog the program shaped, and an answer
// misspelt names a file the person did not choose.
#include "confine/PortalRequest.h"
#include "portal/PortalResponse.h"
#include "sys/Descriptor.h"

#include <QTest>

#include <functional>

#include <sys/socket.h>
#include <systemd/sd-bus.h>

using namespace pellim;

using Build = std::function<void(sd_bus_message *)>;
Q_DECLARE_METATYPE(Build)

namespace {

// A bus connection good enough to make messages with: sd-bus makes none on
// a connection that was never started.
struct Bus {
    sd_bus *bus = nullptr;
    UniqueFd ends[2];
    Bus() {
        int fds[2];
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
        ends[0] = UniqueFd(fds[0]);
        ends[1] = UniqueFd(fds[1]);
        sd_bus_new(&bus);
        const int mine = ::dup(fds[0]);
        sd_bus_set_fd(bus, mine, mine);
        sd_bus_start(bus);
    }
    ~Bus() { sd_bus_close_unref(bus); }
};

// One option of a variant type `type`, holding bytes (ay) or built by `value`.
void option(sd_bus_message *m, const char *key, const char *type,
            const std::function<void()> &value) {
    sd_bus_message_open_container(m, 'e', "sv");
    sd_bus_message_append(m, "s", key);
    sd_bus_message_open_container(m, 'v', type);
    value();
    sd_bus_message_close_container(m);
    sd_bus_message_close_container(m);
}
Build withBytes(const char *key, const QByteArray &bytes) {
    return [key, bytes](sd_bus_message *m) {
        sd_bus_message_append(m, "ss", "", "");
        sd_bus_message_open_container(m, 'a', "{sv}");
        option(m, key, "ay",
               [&] { sd_bus_message_append_array(m, 'y', bytes.data(), bytes.size()); });
        sd_bus_message_close_container(m);
    };
}
Build filters(int count, std::uint32_t kind, const char *pattern) {
    return [=](sd_bus_message *m) {
        sd_bus_message_append(m, "ss", "", "");
        sd_bus_message_open_container(m, 'a', "{sv}");
        option(m, "filters", "a(sa(us))", [&] {
            sd_bus_message_open_container(m, 'a', "(sa(us))");
            for (int i = 0; i < count; ++i)
                sd_bus_message_append(m, "(sa(us))", "Notes", 2, kind, pattern, 1, "text/plain");
            sd_bus_message_close_container(m);
        });
        sd_bus_message_close_container(m);
    };
}

// What the guard took from a request, in a line; "malformed" for a refusal.
QString summary(const Result<FileChooserRequest> &read) {
    if (!read)
        return QStringLiteral("malformed");
    const FileChooserRequest &r = *read;
    QStringList parts;
    if (r.x11Window)
        parts += QStringLiteral("x11 %1").arg(r.x11Window, 0, 16);
    if (!r.exported.isEmpty())
        parts += QStringLiteral("wayland ") + QString::fromLatin1(r.exported);
    if (!r.token.isEmpty())
        parts += QStringLiteral("token ") + r.token;
    if (r.multiple || r.directory)
        parts += QStringLiteral("multiple %1 directory %2").arg(r.multiple).arg(r.directory);
    for (const DialogFilter &filter : r.filters)
        parts += QStringLiteral("filter %1/%2").arg(filter.name).arg(filter.rules.size());
    if (!r.currentFolder.isEmpty())
        parts +=
            QStringLiteral("folder ") + QString::fromLatin1(r.currentFolder.toPercentEncoding("/"));
    if (!r.currentName.isEmpty())
        parts += QStringLiteral("name ") + r.currentName;
    return parts.join(QStringLiteral("; "));
}

class PortalRequestTest : public QObject {
    Q_OBJECT

private slots:
    void options_data();
    void options();
    void response_data();
    void response();
};

void PortalRequestTest::options_data() {
    QTest::addColumn<Build>("build");
    QTest::addColumn<bool>("save");
    QTest::addColumn<QString>("taken");
    const auto open = [](const char *name, Build build, const char *taken) {
        QTest::newRow(name) << build << false << QString::fromUtf8(taken);
    };
    const auto args = [](const char *parent, const char *title) {
        return [=](sd_bus_message *m) { sd_bus_message_append(m, "ssa{sv}", parent, title, 0); };
    };
    open("nothing asked", args("", "Open a note"), "");
    open("X window", args("x11:1a2B", ""), "x11 1a2b");
    open("X window 0: none", args("x11:0", ""), "");
    open("Wayland handle", args("wayland:a-9_Z", ""), "wayland a-9_Z");
    open("another kind of parent", args("gtk:1", ""), "malformed");
    open("X window not hex", args("x11:0x1g", ""), "malformed");
    open("X window past 32 bits", args("x11:123456789", ""), "malformed");
    open("Wayland handle with a space", args("wayland:a b", ""), "malformed");
    open("title with an escape", args("", "a\x1b[2Jb"), "malformed");
    open("title turning text around", args("", "txt.\u202eexe"), "malformed");
    open(
        "title too long",
        [](sd_bus_message *m) {
            sd_bus_message_append(m, "ssa{sv}", "", QByteArray(300, 'a').constData(), 0);
        },
        "malformed");
    open(
        "several, a folder, a token",
        [](sd_bus_message *m) {
            sd_bus_message_append(m, "ssa{sv}", "", "", 4, "multiple", "b", 1, "directory", "b", 1,
                                  "handle_token", "s", "gtk12", "accept_label", "s", "_Cancel");
        },
        "token gtk12; multiple 1 directory 1");
    open(
        "token leaving its path",
        [](sd_bus_message *m) {
            sd_bus_message_append(m, "ssa{sv}", "", "", 1, "handle_token", "s", "a/../b");
        },
        "malformed");
    open(
        "option of the wrong type",
        [](sd_bus_message *m) {
            sd_bus_message_append(m, "ssa{sv}", "", "", 1, "multiple", "s", "yes");
        },
        "malformed");
    open(
        "unknown options and choices passed over",
        [](sd_bus_message *m) {
            sd_bus_message_append(m, "ssa{sv}", "", "", 2, "future", "u", 7, "choices",
                                  "a(ssa(ss)s)", 0);
        },
        "");
    open("folder as bytes", withBytes("current_folder", QByteArray("/home/a/\xff b", 12)),
         "folder /home/a/%FF%20b");
    open("folder relative", withBytes("current_folder", QByteArray("a/b", 4)), "malformed");
    open("folder with a NUL inside", withBytes("current_folder", QByteArray("/a\0b", 5)),
         "malformed");
    open("folder without its NUL", withBytes("current_folder", "/home"), "malformed");
    open("folder past PATH_MAX", withBytes("current_folder", "/" + QByteArray(4096, 'a') + '\0'),
         "malformed");
    open("filters", filters(2, 0, "*.txt"), "filter Notes/2; filter Notes/2");
    open("filter of kind 2", filters(1, 2, "*.txt"), "malformed");
    open("filter with an empty pattern", filters(1, 0, ""), "malformed");
    open("too many filters", filters(65, 0, "*.txt"), "malformed");
    QTest::newRow("save: a name, an Open option passed over") << Build([](sd_bus_message *m) {
        sd_bus_message_append(m, "ssa{sv}", "", "", 2, "current_name", "s", "n.txt", "multiple",
                              "b", 1);
    }) << true << QStringLiteral("name n.txt");
    QTest::newRow("save: a name that is a path") << Build([](sd_bus_message *m) {
        sd_bus_message_append(m, "ssa{sv}", "", "", 1, "current_name", "s", "../n.txt");
    }) << true << QStringLiteral("malformed");
}

void PortalRequestTest::options() {
    QFETCH(Build, build);
    QFETCH(bool, save);
    QFETCH(QString, taken);
    Bus bus;
    sd_bus_message *m = nullptr;
    QVERIFY(sd_bus_message_new_method_call(bus.bus, &m, "org.freedesktop.portal.Desktop",
                                           "/org/freedesktop/portal/desktop",
                                           "org.freedesktop.portal.FileChooser", "OpenFile") >= 0);
    build(m);
    QVERIFY(sd_bus_message_seal(m, 1, 0) >= 0);
    QVERIFY(sd_bus_message_rewind(m, 1) >= 0);
    QCOMPARE(summary(readFileChooserRequest(m, save)), taken);
    sd_bus_message_unref(m);
}

void PortalRequestTest::response_data() {
    QTest::addColumn<std::uint32_t>("response");
    QTest::addColumn<QList<QByteArray>>("chosen");
    QTest::addColumn<int>("filter");
    QTest::addColumn<QString>("results");
    const QList<QByteArray> note{"/home/a/Documents/note.txt"};
    QTest::newRow("one file") << 0u << note << -1 << "uris";
    QTest::newRow("odd bytes in names")
        << 0u << QList<QByteArray>{"/h/a b%#?.txt", "/h/\xff\xfe", "/h/\xc3\xa9"} << 0
        << "uris current_filter";
    QTest::newRow("a folder, the filter past the list")
        << 0u << QList<QByteArray>{"/h/Documents"} << 3 << "uris";
    // Every Response has "uris": GTK 3 reads it whatever the response.
    QTest::newRow("cancelled") << 1u << QList<QByteArray>{} << -1 << "uris";
    QTest::newRow("ended otherwise, a choice never named") << 2u << note << 0 << "uris";
}

void PortalRequestTest::response() {
    QFETCH(std::uint32_t, response);
    QFETCH(QList<QByteArray>, chosen);
    QFETCH(int, filter);
    QFETCH(QString, results);
    std::vector<FileUrl> urls;
    for (const QByteArray &path : chosen)
        urls.push_back(FileUrl::fromLocalBytes(path, false));
    const std::vector<DialogFilter> filters{
        {QStringLiteral("Notes"), {{0, QStringLiteral("*.txt")}}}};
    Bus bus;
    sd_bus_message *m = nullptr;
    QVERIFY(sd_bus_message_new_signal(bus.bus, &m, "/r", "org.freedesktop.portal.Request",
                                      "Response") >= 0);
    QVERIFY(appendResponse(m, response, urls, filter, filters) >= 0);
    QVERIFY(sd_bus_message_seal(m, 1, 0) >= 0);
    QVERIFY(sd_bus_message_rewind(m, 1) >= 0);
    std::uint32_t sent = 9;
    QVERIFY(sd_bus_message_read(m, "u", &sent) >= 0);
    QCOMPARE(sent, response);
    QStringList keys;
    QList<QByteArray> named;
    QVERIFY(sd_bus_message_enter_container(m, 'a', "{sv}") >= 0);
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
        const char *key = nullptr;
        sd_bus_message_read(m, "s", &key);
        keys += QString::fromUtf8(key);
        char **uris = nullptr;
        if (keys.last() == QLatin1String("uris") &&
            sd_bus_message_enter_container(m, 'v', "as") > 0 &&
            sd_bus_message_read_strv(m, &uris) >= 0) {
            for (char **uri = uris; uri && *uri; ++uri) {
                named += localPathOfUri(QString::fromUtf8(*uri)).value_or("not local");
                std::free(*uri);
            }
            std::free(uris);
            sd_bus_message_exit_container(m);
        } else {
            sd_bus_message_skip(m, "v");
        }
        sd_bus_message_exit_container(m);
    }
    QCOMPARE(keys.join(QLatin1Char(' ')), results);
    // Every choice comes back as the bytes it was, in order.
    QCOMPARE(named, response ? QList<QByteArray>{} : chosen);
    sd_bus_message_unref(m);
}

} // namespace

QTEST_APPLESS_MAIN(PortalRequestTest)

#include "test_portal_request.moc"
