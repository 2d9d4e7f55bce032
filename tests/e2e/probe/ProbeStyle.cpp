// A style plugin that is no style: loaded into Pellim through QT_PLUGIN_PATH and
// QT_STYLE_OVERRIDE=pellimprobe, as a hostile plugin would be, it runs the
// command in PELLIM_PROBE in a child of the confined Pellim, and Qt goes on
// with its default style.
#include <QStylePlugin>

#include <cstdlib>

#include <unistd.h>

class ProbeStyle final : public QStylePlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QStyleFactoryInterface_iid FILE "probe.json")

public:
    QStyle *create(const QString &) override {
        if (const char *command = std::getenv("PELLIM_PROBE"); command && ::fork() == 0) {
            ::execl("/bin/sh", "sh", "-c", command, static_cast<char *>(nullptr));
            ::_exit(127);
        }
        return nullptr;
    }
};

#include "ProbeStyle.moc"
