// The client's two files as a person or a broken disk may leave them: the
// settings (config.cfg) and the remembered login (user.cfg). Whatever they
// hold, reading does not crash, and remembering a login keeps the lines
// after the first.
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "client/core/ClientSettings.h"
#include "client/core/SavedLogin.h"

using namespace velora::client::core;

namespace {
const std::string &scratchDir()
{
    static const std::string dir = [] {
        const std::string d = "/tmp/velora-fuzz-client-" + std::to_string(::getpid());
        std::filesystem::create_directories(d + "/config");
        return d;
    }();
    return dir;
}
void put(const std::string &path, const std::string &content)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string content(reinterpret_cast<const char *>(data), size);
    const QString dir = QString::fromStdString(scratchDir());

    ClientSettings settings(dir, dir + QStringLiteral("/autostart.desktop"));
    put(settings.configFile().toStdString(), content);
    if (settings.loadcfg()) {
        QString why;
        settings.activatecfg(&why);
    }

    SavedLogin saved(settings.savedLoginFile());
    put(settings.savedLoginFile().toStdString(), content);
    if (!saved.load())
        return 0;
    bool corrupt = false;
    saved.remembered(&corrupt);
    const std::size_t before = saved.lines().size();
    saved.remember("ann", "secret");
    if (!saved.save())
        return 0;
    SavedLogin again(settings.savedLoginFile());
    if (!again.load())
        std::abort();
    const auto back = again.remembered();
    if (!back || back->user != "ann" || back->password != "secret")
        std::abort();
    if (again.lines().size() < (before == 0 ? 1 : before))
        std::abort();
    return 0;
}
