// The client's bandwidth meter: what it tells the server and how it shows
// the traffic part, offscreen against the fake server.
#include <QAction>
#include <QLabel>
#include <QLocale>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include "client/core/SavedLogin.h"
#include "client/ui/TFmain.h"
#include "support/FakeServer.h"
#include "support/ScriptedPrompter.h"
#include "support/Wait.h"
#include "widgets/TFmeter.h"
#include "widgets/TrendGraph.h"

using namespace velora;
using namespace velora::client::core;
using namespace velora::client::ui;
using namespace velora::test;

namespace {

const std::string Active = "bandwidth\xE0" "active\xE0";
const std::string Unactive = "bandwidth\xE0" "unactive\xE0";

QString shown(const char *text)
{
    return QString::fromLatin1(text).replace(QLatin1Char('.'), QLocale::system().decimalPoint());
}

}  // namespace

class ClientMeterTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<FakeServer> server_;
    std::unique_ptr<ClientSettings> settings_;
    std::unique_ptr<ClientSession> session_;
    std::unique_ptr<ScriptedPrompter> prompter_;
    std::unique_ptr<TFmain> w_;

    widgets::TFmeter &meter() { return *w_->meterWindow(); }
    void connectToServer()
    {
        w_->Button1Click();
        QVERIFY(waitFor([&] { return session_->inSession(); }, 3000));
    }

private slots:
    void init()
    {
        server_ = std::make_unique<FakeServer>();
        QVERIFY(server_->listen());
        QDir(dir_.path()).removeRecursively();
        QDir().mkpath(dir_.path() + QStringLiteral("/config"));
        settings_ = std::make_unique<ClientSettings>(dir_.path(), dir_.path() + QStringLiteral("/auto.desktop"));
        session_ = std::make_unique<ClientSession>(*settings_);
        prompter_ = std::make_unique<ScriptedPrompter>();
        w_ = std::make_unique<TFmain>(*settings_, *session_, *prompter_);
        QFile f(settings_->configFile());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("127.0.0.1\r\n") + QByteArray::number(server_->port()) +
                "\r\n2\r\nHome\r\n0\r\n0\r\n0\r\n0\r\n");
        f.close();
        SavedLogin s(settings_->savedLoginFile());
        s.remember("alice", "secret");
        QVERIFY(s.save());
    }
    void cleanup()
    {
        w_.reset();
        session_.reset();
        server_.reset();
    }

    void bothMenusOpenTheMeterAndTheSubscriptionFollowsIt()
    {
        // Shown while disconnected: nothing to tell anyone.
        w_->Bandwidthmeter1Click();
        QVERIFY(meter().isVisible());
        QCOMPARE(meter().Tag, 1);
        meter().Hide1->trigger();
        QCOMPARE(meter().Tag, 1);

        // Connecting while it is active sends nothing yet: the connection was not open.
        connectToServer();
        QCOMPARE(server_->count(Active), 0);
        w_->Bandwidthmeter2Click();
        QVERIFY(waitFor([&] { return server_->count(Active) == 1; }, 2000));
        meter().Hide1->trigger();
        QVERIFY(!waitFor([&] { return server_->count(Unactive) > 0; }, 200));

        // An attempt on the open connection says it again.
        session_->executeconnect(1);
        QVERIFY(waitFor([&] { return server_->count(Active) == 2; }, 2000));

        meter().show();
        QVERIFY(waitFor([&] { return server_->count(Active) == 3; }, 2000));
        meter().Exit1->trigger();
        QCOMPARE(meter().Tag, 0);
        QVERIFY(waitFor([&] { return server_->count(Unactive) == 1; }, 2000));
        session_->executeconnect(1);
        QVERIFY(!waitFor([&] { return server_->count(Active) > 3; }, 200));
    }

    void trafficPartsOfEvenPollTicksReachTheMeter()
    {
        connectToServer();
        w_->Bandwidthmeter1Click();
        // Odd poll ticks drop the traffic part: try on both.
        bool seen = false;
        for (int i = 0; i < 4 && !seen; ++i) {
            server_->push(std::string("\xE0\xE2\xE0") + "2048\xE2" "512\xE2" "\xE0");
            seen = waitFor([&] { return meter().Label1->text() != QStringLiteral("D:"); }, 300);
            if (!seen)
                session_->pollTick();
        }
        QVERIFY(seen);
        QCOMPARE(session_->pollCounter() % 2, 0);
        QCOMPARE(meter().Label1->text(), shown("D: 2.00 KB/s"));
        QCOMPARE(meter().Label4->text(), shown("U: 512.00 B/s"));
    }

    void theRateTextsAndItemsThatAreNoNumbers()
    {
        w_->baca_bandwidth("1536", "0");
        QCOMPARE(meter().Label1->text(), shown("D: 1.50 KB/s"));
        QCOMPARE(meter().Label4->text(), shown("U: 0.00 B/s"));
        QCOMPARE(meter().Label5->text(), w_->Label8->text());
        w_->baca_bandwidth("1073741824", "1073741823");
        QCOMPARE(meter().Label1->text(), QStringLiteral("D: /s"));
        QCOMPARE(meter().Label4->text(), shown("U: 1,024.00 MB/s").replace(QLatin1Char(','), QLocale::system().groupSeparator()));
        QCOMPARE(meter().Label6->text(), QStringLiteral("Max scale: /s"));

        // A bad download item ends the update at once; a bad upload item
        // after the download went into the graph.
        const auto before = meter().downloadtrend->values(0);
        w_->baca_bandwidth("12x", "5");
        QCOMPARE(meter().downloadtrend->values(0), before);
        w_->baca_bandwidth("700", "-1");
        QCOMPARE(meter().downloadtrend->values(0).back(), 700.0);
        QCOMPARE(meter().downloadtrend->values(1).back(), 1073741823.0);
        QCOMPARE(meter().Label1->text(), QStringLiteral("D: /s"));

        // "Clear graph" zeroes both traces.
        meter().Cleargraph1->trigger();
        const auto zero = [](const std::vector<double> &v) {
            return std::all_of(v.begin(), v.end(), [](double x) { return x == 0; });
        };
        QVERIFY(zero(meter().downloadtrend->values(0)));
        QVERIFY(zero(meter().downloadtrend->values(1)));
    }
};

QTEST_MAIN(ClientMeterTest)
#include "ClientMeterTest.moc"
