// What the guard takes from a program's call to its file chooser portal, which
// the program may shape at will: the bytes become a call (which method, then
// options, each a name, a type and a value), and whatever the guard reads from
// it keeps the bounds it promises, or is refused, never a crash.
#include "FuzzCheck.h"
#include "confine/GuardMessages.h"
#include "confine/PortalRequest.h"

#include <QString>

#include <climits>
#include <cstring>

#include <sys/socket.h>
#include <systemd/sd-bus.h>

using namespace pellim;

namespace {

class Bytes {
public:
    Bytes(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}
    std::uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    QByteArray take(std::size_t most) {
        const std::size_t size = std::min<std::size_t>(byte() % (most + 1), m_size - m_at);
        const QByteArray taken(reinterpret_cast<const char *>(m_data + m_at), qsizetype(size));
        m_at += size;
        return taken;
    }
    bool done() const { return m_at >= m_size; }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

const char *const kKeys[] = {"handle_token", "accept_label", "modal",          "multiple",
                             "directory",    "filters",      "current_filter", "current_folder",
                             "current_name", "current_file", "choices",        "other"};
const char *const kTypes[] = {"s", "b", "u", "ay", "a(sa(us))", "(sa(us))", "as"};

// A string as sd-bus takes it (UTF-8 without NUL): the bytes, else nothing.
QByteArray text(Bytes &in, std::size_t most) {
    QByteArray bytes = in.take(most);
    bytes.replace('\0', 'x');
    return QString::fromUtf8(bytes).toUtf8() == bytes ? bytes : QByteArray("t");
}

int appendFilter(sd_bus_message *m, Bytes &in) {
    int rc = sd_bus_message_open_container(m, 'r', "sa(us)");
    rc = rc < 0 ? rc : sd_bus_message_append(m, "s", text(in, 40).constData());
    rc = rc < 0 ? rc : sd_bus_message_open_container(m, 'a', "(us)");
    for (int rule = in.byte() % 4; rc >= 0 && rule > 0; --rule)
        rc = sd_bus_message_append(m, "(us)", std::uint32_t(in.byte() % 3),
                                   text(in, 20).constData());
    rc = rc < 0 ? rc : sd_bus_message_close_container(m);
    return rc < 0 ? rc : sd_bus_message_close_container(m);
}

int appendValue(sd_bus_message *m, const char *type, Bytes &in) {
    const std::string kind(type);
    if (kind == "s")
        return sd_bus_message_append(m, "s", text(in, 300).constData());
    if (kind == "b")
        return sd_bus_message_append(m, "b", int(in.byte() & 1));
    if (kind == "u")
        return sd_bus_message_append(m, "u", std::uint32_t(in.byte()));
    if (kind == "ay") {
        const QByteArray bytes = in.take(80);
        return sd_bus_message_append_array(m, 'y', bytes.constData(), std::size_t(bytes.size()));
    }
    if (kind == "(sa(us))")
        return appendFilter(m, in);
    if (kind == "as")
        return sd_bus_message_append(m, "as", 1, text(in, 20).constData());
    int rc = sd_bus_message_open_container(m, 'a', "(sa(us))");
    for (int filter = in.byte() % 4; rc >= 0 && filter > 0; --filter)
        rc = appendFilter(m, in);
    return rc < 0 ? rc : sd_bus_message_close_container(m);
}

sd_bus *bus() {
    static sd_bus *made = [] {
        int ends[2];
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends);
        sd_bus *b = nullptr;
        sd_bus_new(&b);
        sd_bus_set_fd(b, ends[0], ends[0]);
        sd_bus_start(b); // a bus that was never started makes no messages
        return b;
    }();
    return made;
}

// The call the bytes describe, or nothing where sd-bus would not send it.
sd_bus_message *callOf(Bytes &in, bool save) {
    sd_bus_message *m = nullptr;
    if (sd_bus_message_new_method_call(
            bus(), &m, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
            "org.freedesktop.portal.FileChooser", save ? "SaveFile" : "OpenFile") < 0)
        return nullptr;
    int rc = sd_bus_message_append(m, "ss", text(in, 40).constData(), text(in, 300).constData());
    rc = rc < 0 ? rc : sd_bus_message_open_container(m, 'a', "{sv}");
    while (rc >= 0 && !in.done()) {
        const char *type = kTypes[in.byte() % std::size(kTypes)];
        rc = sd_bus_message_open_container(m, 'e', "sv");
        rc = rc < 0 ? rc : sd_bus_message_append(m, "s", kKeys[in.byte() % std::size(kKeys)]);
        rc = rc < 0 ? rc : sd_bus_message_open_container(m, 'v', type);
        rc = rc < 0 ? rc : appendValue(m, type, in);
        rc = rc < 0 ? rc : sd_bus_message_close_container(m);
        rc = rc < 0 ? rc : sd_bus_message_close_container(m);
    }
    rc = rc < 0 ? rc : sd_bus_message_close_container(m);
    rc = rc < 0 ? rc : sd_bus_message_seal(m, 1, 0);
    rc = rc < 0 ? rc : sd_bus_message_rewind(m, 1);
    if (rc < 0)
        m = sd_bus_message_unref(m);
    return m;
}

void checkFilter(const DialogFilter &filter) {
    FUZZ_CHECK(filter.name.size() <= kMaxText && !filter.rules.empty() &&
               qsizetype(filter.rules.size()) <= kMaxFilterRules);
    for (const auto &[kind, pattern] : filter.rules)
        FUZZ_CHECK(kind <= DialogFilter::MimeType && !pattern.isEmpty() &&
                   pattern.size() <= kMaxText);
}

void checkPath(const QByteArray &path) {
    FUZZ_CHECK(path.isEmpty() ||
               (path.startsWith('/') && !path.contains('\0') && path.size() < PATH_MAX));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    Bytes in(data, size);
    const bool save = in.byte() & 1;
    sd_bus_message *call = callOf(in, save);
    if (!call)
        return 0;
    const Result<FileChooserRequest> read = readFileChooserRequest(call, save);
    sd_bus_message_unref(call);
    if (!read)
        return 0;
    FUZZ_CHECK(read->save == save && read->title.size() <= kMaxText);
    FUZZ_CHECK(read->x11Window <= 0xffffffffu && isExportedHandle(read->exported));
    FUZZ_CHECK(read->token.size() <= kMaxToken && !read->token.contains(QLatin1Char('/')));
    FUZZ_CHECK(qsizetype(read->filters.size()) <= kMaxFilters);
    for (const DialogFilter &filter : read->filters)
        checkFilter(filter);
    checkPath(read->currentFolder);
    checkPath(read->currentFile);
    FUZZ_CHECK(read->currentName.isEmpty() || isPlainName(read->currentName));
    // The confirm button says one of the guard's own words, whatever was asked.
    const QString prompt = openOptionsOf(*read, QStringLiteral("p")).prompt;
    FUZZ_CHECK(prompt == QLatin1String("Open") || prompt == QLatin1String("Select File") ||
               prompt == QLatin1String("Select Folder"));
    return 0;
}
