// SPDX-License-Identifier: GPL-3.0-or-later
#include "display/Display.h"

#include "xdg-foreign-unstable-v2-client-protocol.h"

#include <QGuiApplication>
#include <QPointer>
#include <QWindow>
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#include <qpa/qplatformnativeinterface.h>

#include <wayland-client.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace pellim {

namespace {

// The protocols by which one client sends input into another's windows, as the
// compositors that offer them name them.
struct InputProtocol {
    const char *interface;
    const char *what;
};
constexpr InputProtocol kInputForOthers[] = {
    {"zwp_virtual_keyboard_manager_v1", "virtual keyboard"},
    {"zwlr_virtual_pointer_manager_v1", "virtual pointer"},
    // An input method commits text into whichever field has the focus.
    {"zwp_input_method_manager_v2", "input method"},
    {"org_kde_kwin_fake_input", "fake input"},
};

bool isWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

wl_display *qtDisplay() {
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    return native && isWayland()
               ? static_cast<wl_display *>(native->nativeResourceForIntegration("wl_display"))
               : nullptr;
}

wl_surface *surfaceOf(QWindow *window) {
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    return native && window && window->handle()
               ? static_cast<wl_surface *>(native->nativeResourceForWindow("surface", window))
               : nullptr;
}

// The compositor's globals as seen on a queue of our own: Qt dispatches its
// own queue on its own schedule, and ours only when we ask.
class Registry {
public:
    struct Global {
        std::uint32_t name;
        std::string interface;
        std::uint32_t version;
    };

    Registry() {
        m_display = qtDisplay();
        if (!m_display)
            return;
        m_queue = wl_display_create_queue(m_display);
        m_wrapper = static_cast<wl_display *>(wl_proxy_create_wrapper(m_display));
        wl_proxy_set_queue(reinterpret_cast<wl_proxy *>(m_wrapper), m_queue);
        m_registry = wl_display_get_registry(m_wrapper);
        static const wl_registry_listener listener{
            [](void *data, wl_registry *, std::uint32_t name, const char *interface,
               std::uint32_t version) {
                static_cast<Registry *>(data)->m_globals.push_back({name, interface, version});
            },
            [](void *data, wl_registry *, std::uint32_t name) {
                std::erase_if(static_cast<Registry *>(data)->m_globals,
                              [name](const Global &g) { return g.name == name; });
            }};
        wl_registry_add_listener(m_registry, &listener, this);
        roundtrip();
    }
    ~Registry() {
        if (m_registry)
            wl_registry_destroy(m_registry);
        if (m_wrapper)
            wl_proxy_wrapper_destroy(m_wrapper);
        if (m_queue)
            wl_event_queue_destroy(m_queue);
    }
    Registry(const Registry &) = delete;
    Registry &operator=(const Registry &) = delete;

    bool isValid() const { return m_registry != nullptr; }
    const std::vector<Global> &globals() const { return m_globals; }
    bool roundtrip() { return m_queue && wl_display_roundtrip_queue(m_display, m_queue) >= 0; }
    void flush() { wl_display_flush(m_display); }

    // Binds the global of `interface` at `version` or below; null without one.
    void *bind(const wl_interface *interface, std::uint32_t version) {
        const auto found = std::find_if(m_globals.begin(), m_globals.end(), [&](const Global &g) {
            return g.interface == interface->name;
        });
        if (found == m_globals.end())
            return nullptr;
        return wl_registry_bind(m_registry, found->name, interface,
                                std::min(version, found->version));
    }

private:
    wl_display *m_display = nullptr;
    wl_event_queue *m_queue = nullptr;
    wl_display *m_wrapper = nullptr;
    wl_registry *m_registry = nullptr;
    std::vector<Global> m_globals;
};

// A shown window's export, a child of its QWindow: it goes with the window.
class Export final : public QObject {
public:
    static constexpr char kName[] = "pellimForeignExport";

    explicit Export(QWindow *window) : QObject(window), m_window(window) {
        setObjectName(QLatin1String(kName));
        // A window hidden and shown again has a new toplevel, which needs a
        // new export.
        connect(window, &QWindow::visibleChanged, this, [this](bool visible) {
            if (!visible)
                drop();
        });
    }
    ~Export() override {
        drop();
        if (m_exporter)
            zxdg_exporter_v2_destroy(m_exporter);
    }

    QByteArray handle() {
        if (!m_handle.isEmpty() || !m_window->isVisible())
            return m_handle;
        wl_surface *surface = surfaceOf(m_window);
        if (!m_registry.isValid() || !surface)
            return {};
        if (!m_exporter)
            m_exporter =
                static_cast<zxdg_exporter_v2 *>(m_registry.bind(&zxdg_exporter_v2_interface, 1));
        if (!m_exporter)
            return {};
        m_exported = zxdg_exporter_v2_export_toplevel(m_exporter, surface);
        static const zxdg_exported_v2_listener listener{
            [](void *data, zxdg_exported_v2 *, const char *handle) {
                static_cast<Export *>(data)->m_handle = QByteArray(handle);
            }};
        zxdg_exported_v2_add_listener(m_exported, &listener, this);
        // The compositor answers an export with its handle at once.
        m_registry.roundtrip();
        return m_handle;
    }

private:
    void drop() {
        if (m_exported)
            zxdg_exported_v2_destroy(m_exported);
        m_exported = nullptr;
        m_handle.clear();
    }

    QWindow *m_window;
    Registry m_registry;
    zxdg_exporter_v2 *m_exporter = nullptr;
    zxdg_exported_v2 *m_exported = nullptr;
    QByteArray m_handle;
};

} // namespace

DisplayFacts displayFacts() {
    DisplayFacts facts;
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb")) {
        facts.kind = DisplayFacts::Kind::X11;
        return facts;
    }
    if (!isWayland())
        return facts;
    facts.kind = DisplayFacts::Kind::Wayland;
    const Registry registry;
    for (const Registry::Global &global : registry.globals()) {
        facts.globals << QStringLiteral("%1 %2")
                             .arg(QString::fromStdString(global.interface))
                             .arg(global.version);
        for (const InputProtocol &input : kInputForOthers) {
            if (global.interface == input.interface &&
                !facts.inputForOthers.contains(QLatin1String(input.what)))
                facts.inputForOthers << QLatin1String(input.what);
        }
        facts.foreignParents |= global.interface == zxdg_importer_v2_interface.name;
    }
    return facts;
}

void announceAccessibility() {
    const QPlatformIntegration *integration = QGuiApplicationPrivate::platformIntegration();
    auto *bridge = dynamic_cast<QObject *>(integration ? integration->accessibility() : nullptr);
    if (bridge && bridge->metaObject()->indexOfSlot("enabledChanged(bool)") >= 0)
        QMetaObject::invokeMethod(bridge, "enabledChanged", Qt::QueuedConnection,
                                  Q_ARG(bool, true));
}

QByteArray exportedHandle(QWindow *window) {
    if (!window || !qtDisplay())
        return {};
    // Found by name: a class without a meta-object of its own would match any child.
    auto *made = static_cast<Export *>(
        window->findChild<QObject *>(QLatin1String(Export::kName), Qt::FindDirectChildrenOnly));
    if (!made)
        made = new Export(window); // owned by `window`
    return made->handle();
}

struct ForeignParents::State {
    Registry registry;
    zxdg_importer_v2 *importer = nullptr;
    ~State() {
        if (importer)
            zxdg_importer_v2_destroy(importer);
    }
};

namespace {

// One window's import, a child of the window it parents: it goes with it.
class Import final : public QObject {
public:
    static constexpr char kName[] = "pellimForeignImport";

    Import(QWindow *child, const QByteArray &handle, std::shared_ptr<ForeignParents::State> state)
        : QObject(child), m_child(child), m_state(std::move(state)) {
        setObjectName(QLatin1String(kName));
        m_imported = zxdg_importer_v2_import_toplevel(m_state->importer, handle.constData());
        // Qt tells of a window shown before its platform window has made the
        // toplevel: the parent is set once that is done.
        connect(
            child, &QWindow::visibleChanged, this,
            [this](bool visible) {
                if (visible)
                    apply();
            },
            Qt::QueuedConnection);
        if (child->isVisible())
            apply();
    }
    ~Import() override {
        zxdg_imported_v2_destroy(m_imported);
        m_state->registry.flush();
    }

private:
    // The toplevel exists only while the window is shown, and each showing
    // makes a new one.
    void apply() {
        if (wl_surface *surface = m_child->isVisible() ? surfaceOf(m_child) : nullptr) {
            zxdg_imported_v2_set_parent_of(m_imported, surface);
            m_state->registry.flush();
        }
    }

    QWindow *m_child;
    std::shared_ptr<ForeignParents::State> m_state; // its queue outlives the import
    zxdg_imported_v2 *m_imported;
};

} // namespace

std::unique_ptr<ForeignParents> ForeignParents::create() {
    if (!qtDisplay())
        return nullptr;
    auto state = std::make_shared<State>();
    if (state->registry.isValid())
        state->importer =
            static_cast<zxdg_importer_v2 *>(state->registry.bind(&zxdg_importer_v2_interface, 1));
    if (!state->importer)
        return nullptr;
    return std::unique_ptr<ForeignParents>(new ForeignParents(std::move(state)));
}

ForeignParents::ForeignParents(std::shared_ptr<State> state) : m_state(std::move(state)) {}

ForeignParents::~ForeignParents() = default;

void ForeignParents::setParent(QWindow *child, const QByteArray &handle) {
    if (!child)
        return;
    delete child->findChild<QObject *>(QLatin1String(Import::kName), Qt::FindDirectChildrenOnly);
    if (!handle.isEmpty())
        new Import(child, handle, m_state); // owned by `child`
}

} // namespace pellim
