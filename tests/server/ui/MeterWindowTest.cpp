// The server window's bandwidth meter over a real core on the simulated line.
#include <QAction>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QTest>

#include <filesystem>

#include "server/frame/ServerCore.h"
#include "server/ui/TForm1.h"
#include "support/FakeServerPlatform.h"
#include "support/ScriptedPrompter.h"
#include "support/TestFiles.h"
#include "support/Wait.h"
#include "widgets/TFmeter.h"
#include "widgets/TrendGraph.h"

using namespace velora;
using namespace velora::server::frame;
using namespace velora::server::ui;
using namespace velora::test;

class MeterWindowTest : public QObject {
    Q_OBJECT

    TempDir dir_;
    ScriptedPrompter prompter_;
    std::unique_ptr<ServerCore> core_;
    std::unique_ptr<TForm1> window_;
    std::int64_t now_ = 5000000;

    void tick(int n)
    {
        for (int i = 0; i < n; ++i) {
            now_ += 500;
            core_->Timer1Timer();
        }
    }

private slots:
    void init()
    {
        const std::string base = dir_.file("base");
        std::filesystem::remove_all(base);
        std::filesystem::create_directories(base + "/config");
        writeFile(base + "/config/config.ini", "[server]\nport=0\n");
        // 81920 bit/s: 5120 bytes a second down, 1280 up.
        writeFile(base + "/config/phonebook.ini", "[ISP One]\nspeed=81920\naddress=10.1.1.2\ndelay=1\n");
        FakePlatformParts parts;
        ServerPlatform platform = fakePlatform(base, &parts);
        parts.line->setClock([this] { return now_; });
        ServerOptions o;
        o.baseDir = base;
        o.listenAddress = "127.0.0.1";
        core_ = std::make_unique<ServerCore>(o, std::move(platform));
        window_ = std::make_unique<TForm1>(*core_, prompter_);
        core_->inisiasiawal();
        core_->Timer2Timer();
    }
    void cleanup()
    {
        window_.reset();
        core_.reset();
    }

    void bothMenuItemsOpenTheMeterWhichIsFedOnlyWhileItsTagSaysSo()
    {
        widgets::TFmeter *meter = window_->meterWindow();
        QVERIFY(meter && !meter->isVisible());
        core_->dialup().executedial("ISP One", "pc1");
        QVERIFY(waitFor([&] {
            tick(1);
            return core_->state().StatusText == "Connected";
        }, 3000));
        // The tick counter wraps from 10 to 0, two even ticks in a row (a half
        // sample): start from the same phase every run.
        while (core_->tickCounter() != 0)
            tick(1);
        tick(6);
        // Not fed before it was shown.
        QCOMPARE(meter->Label1->text(), QStringLiteral("D:"));

        QAction *tray = window_->trayMenu()->findChild<QAction *>(QStringLiteral("Bandwidthmeter2"));
        if (!tray)
            for (QAction *a : window_->trayMenu()->actions())
                if (a->objectName() == QLatin1String("Bandwidthmeter2"))
                    tray = a;
        QVERIFY(tray && tray->isVisible() && tray->isEnabled());
        tray->trigger();
        QVERIFY(meter->isVisible());
        tick(4);
        const QString point = QString(QLocale::system().decimalPoint());
        QCOMPARE(meter->Label1->text(), QStringLiteral("D: 5") + point + QStringLiteral("00 KB/s"));
        QCOMPARE(meter->Label4->text(), QStringLiteral("U: 1") + point + QStringLiteral("25 KB/s"));
        QCOMPARE(meter->Label5->text(), QStringLiteral("ISP One"));
        QCOMPARE(core_->state().SpeedText, "81" + point.toStdString() + "92 Kbps");

        meter->Exit1->trigger();
        const auto flat = meter->downloadtrend->values(0);
        tick(6);
        QCOMPARE(meter->downloadtrend->values(0), flat);

        QAction *menu = nullptr;
        for (QMenu *m : window_->findChildren<QMenu *>())
            if (m->objectName() == QLatin1String("PopupMenu4"))
                for (QAction *a : m->actions())
                    if (a->objectName() == QLatin1String("Bandwidthmeter3"))
                        menu = a;
        QVERIFY(menu);
        QCOMPARE(menu->text(), QStringLiteral("Bandwidth meter"));
        menu->trigger();
        QVERIFY(meter->isVisible());
        tick(2);
        QCOMPARE(meter->downloadtrend->values(0).back(), 5120.0);
    }
};

QTEST_MAIN(MeterWindowTest)
#include "MeterWindowTest.moc"
