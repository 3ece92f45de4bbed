#pragma once
// One server core over the simulated line with its window, in a base dir of
// its own; ticks are driven by hand, message boxes go to a scripted prompter.

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "server/dialup/lines/SimulatedLine.h"
#include "server/frame/ServerCore.h"
#include "server/ui/TForm1.h"
#include "support/FakeServerPlatform.h"
#include "support/ScriptedPrompter.h"
#include "support/TestFiles.h"

namespace velora::test {

inline const char Phonebook[] = "[ISP One]\nspeed=56000\ndelay=0\n"
                         "[ISP Two]\nspeed=33600\ndelay=0\n"
                         "[Busy]\nfailcode=676\nfailstate=2\ndelay=0\n"
                         "[Caf\xE9 Net]\ndelay=0\n";

// One server with its window, in a base dir of its own.
struct Server {
    using ServerCore = server::frame::ServerCore;
    using TForm1 = server::ui::TForm1;
    using ServerState = server::state::ServerState;
    using ServerPlatform = server::frame::ServerPlatform;
    using ServerOptions = server::frame::ServerOptions;
    using SimulatedLine = server::dialup::SimulatedLine;
    velora::test::TempDir dir;
    velora::test::FakeAutostart *autostart = nullptr;
    ScriptedPrompter prompter;
    SimulatedLine *line = nullptr;
    std::unique_ptr<ServerCore> core;
    std::unique_ptr<TForm1> window;

    explicit Server(const std::string &ini = "[server]\nport=0\n", bool service = false,
                    const std::string &baseName = "base",
                    const std::function<void(ServerPlatform &, const std::string &)> &adjust = {})
        : baseName_(baseName)
    {
        std::filesystem::create_directories(base() + "/config");
        velora::test::writeFile(base() + "/config/config.ini", ini);
        velora::test::writeFile(base() + "/config/phonebook.ini", Phonebook);
        FakePlatformParts parts;
        ServerPlatform platform = fakePlatform(base(), &parts);
        line = parts.line;
        autostart = parts.autostart;
        if (adjust)
            adjust(platform, base());
        ServerOptions o;
        o.baseDir = base();
        o.listenAddress = "127.0.0.1";
        o.serviceMode = service;
        core = std::make_unique<ServerCore>(o, std::move(platform));
        // As at start-up: the window exists before the initial set-up runs.
        window = std::make_unique<TForm1>(*core, prompter);
        core->inisiasiawal();
        core->Timer2Timer();
    }
    ~Server()
    {
        window.reset();
        core.reset();
    }
    std::string baseName_;
    std::string base() const { return dir.file(baseName_); }
    const ServerState &st() const { return core->state(); }
    std::string ini(const char *section, const char *key) { return core->config().ini().readString(section, key, "?"); }

    template <class T>
    T *get(const char *name)
    {
        T *w = window->findChild<T *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no %s named %s", T::staticMetaObject.className(), name);
        return w;
    }
    QString text(const char *label) { return get<QLabel>(label)->text(); }
    void click(const char *name) { QTest::mouseClick(get<QPushButton>(name), Qt::LeftButton); }
    QList<QAction *> dialItems() { return get<QMenu>("dial1")->actions(); }
    void waitFor(const char *statusText)
    {
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(st().StatusText), QString::fromLatin1(statusText), 3000);
    }
};

}  // namespace velora::test
