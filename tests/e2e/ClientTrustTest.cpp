// The client window's first encrypted connection to the real server: the
// fingerprint it asks about, the pin it keeps, a No and a changed
// certificate. Offscreen; the server is the real binary on loopback.

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include "client/core/ClientSession.h"
#include "client/core/ClientSettings.h"
#include "client/core/SavedLogin.h"
#include "client/ui/TFmain.h"
#include "support/ScriptedPrompter.h"
#include "support/ServerProcess.h"
#include "support/Wait.h"
#include "widgets/MessageBoxPrompter.h"

using namespace velora;
using namespace velora::client::core;
using namespace velora::client::ui;
using namespace velora::test;

namespace {

const std::string L = "\xE3";

// 64 lowercase hex digits, whatever the separators.
std::string plainHex(std::string text)
{
    std::string out;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

class ClientTrustTest : public QObject {
    Q_OBJECT

    TempDir serverDir_;
    std::unique_ptr<ServerProcess> server_;
    quint16 tlsPort_ = 0;
    std::string fingerprint_;

    QTemporaryDir clientDir_;
    std::unique_ptr<ClientSettings> settings_;
    std::unique_ptr<ClientSession> session_;
    ScriptedPrompter scripted_;
    std::unique_ptr<TFmain> window_;

    void openWindow(Prompter &prompter)
    {
        QDir().mkpath(clientDir_.path() + QStringLiteral("/config"));
        settings_ = std::make_unique<ClientSettings>(clientDir_.path(), clientDir_.path() + QStringLiteral("/a.desktop"));
        QFile::remove(settings_->pinFile());
        QFile cfg(settings_->configFile());
        QVERIFY(cfg.open(QIODevice::WriteOnly));
        // Plain port 1: a client that fell back to it would not get in.
        cfg.write(QByteArray("127.0.0.1\r\n1\r\n2\r\n\r\n0\r\n0\r\n0\r\n0\r\n0\r\n1\r\n") +
                  QByteArray::number(tlsPort_) + "\r\n");
        cfg.close();
        SavedLogin login(settings_->savedLoginFile());
        login.remember("demo", "demo");
        login.save();
        session_ = std::make_unique<ClientSession>(*settings_);
        window_ = std::make_unique<TFmain>(*settings_, *session_, prompter);
        window_->show();
        window_->loadcfg();
    }
    std::string pinFileText() const
    {
        QFile f(settings_->pinFile());
        return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
    }

private slots:
    void initTestCase()
    {
        server_ = std::make_unique<ServerProcess>(serverDir_.file("base"));
        server_->writeConfig("[server]\nport=0\nlisten=127.0.0.1\n");
        writeFile(server_->baseDir() + "/config/user.cfg",
                  "demo" + L + "Demo user" + L + "245-53-210-81-" + L + "0" + L + "1" + L + "1" + L + "1" + L + "\r\n");
        server_->start();
        QVERIFY2(server_->waitForOutput("certificate fingerprint (SHA-256) "), server_->output().c_str());
        tlsPort_ = server_->tlsPort();
        QVERIFY(tlsPort_ != 0);
        const std::string out = server_->output();
        const std::size_t at = out.find("certificate fingerprint (SHA-256) ") + 34;
        fingerprint_ = plainHex(out.substr(at, out.find('\n', at) - at));
        QCOMPARE(fingerprint_.size(), std::size_t(64));
    }
    void cleanup()
    {
        window_.reset();
        session_.reset();
        scripted_.said.clear();
        scripted_.answers.clear();
    }
    void cleanupTestCase() { server_.reset(); }

    void yesPinsTheFingerprintPrivatelyAndTheNextConnectionDoesNotAsk()
    {
        openWindow(scripted_);
        scripted_.answers = {Prompter::Button::Yes};
        window_->Button1Click();
        QVERIFY(waitFor([&] { return session_->inSession(); }, 10000));
        QCOMPARE(scripted_.said.size(), std::size_t(1));
        const auto &asked = scripted_.said[0];
        QCOMPARE(asked.buttons, (std::vector<Prompter::Button>{Prompter::Button::Yes, Prompter::Button::No}));
        QVERIFY2(plainHex(asked.text).find(fingerprint_) != std::string::npos, asked.text.c_str());
        QVERIFY2(pinFileText().find(fingerprint_) != std::string::npos, pinFileText().c_str());
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(settings_->pinFile()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);

        // Trusted now: the next connection goes straight in.
        window_.reset();
        session_.reset();
        session_ = std::make_unique<ClientSession>(*settings_);
        window_ = std::make_unique<TFmain>(*settings_, *session_, scripted_);
        window_->loadcfg();
        window_->Button1Click();
        QVERIFY(waitFor([&] { return session_->inSession(); }, 10000));
        QCOMPARE(scripted_.said.size(), std::size_t(1));
    }

    void noLeavesItDisconnectedWithNothingPinned()
    {
        openWindow(scripted_);
        scripted_.answers = {Prompter::Button::No};
        window_->Button1Click();
        QVERIFY(waitFor([&] { return !scripted_.said.empty(); }, 10000));
        QVERIFY(!waitFor([&] { return session_->inSession(); }, 500));
        QCOMPARE(scripted_.said[0].kind, Prompter::Kind::Question);
        QVERIFY(!QFile::exists(settings_->pinFile()));
        QVERIFY(window_->findChild<QPushButton *>(QStringLiteral("Button1"))->isVisible());
    }

    void aChangedCertificateIsRefusedShowingBothFingerprints()
    {
        openWindow(scripted_);
        const std::string old = std::string(64, 'a');
        QFile pins(settings_->pinFile());
        QVERIFY(pins.open(QIODevice::WriteOnly));
        pins.write(QByteArray::fromStdString("127.0.0.1 " + std::to_string(tlsPort_) + " " + old + "\n"));
        pins.close();
        const std::string before = pinFileText();
        window_->Button1Click();
        QVERIFY(waitFor([&] { return !scripted_.said.empty(); }, 10000));
        QVERIFY(!waitFor([&] { return session_->inSession(); }, 500));
        const auto &warned = scripted_.said[0];
        QCOMPARE(warned.kind, Prompter::Kind::Warning);
        QVERIFY(warned.buttons.empty());
        QVERIFY2(plainHex(warned.text).find(old) != std::string::npos, warned.text.c_str());
        QVERIFY2(plainHex(warned.text).find(fingerprint_) != std::string::npos, warned.text.c_str());
        QCOMPARE(pinFileText(), before);
    }

    // The box the real prompter shows: the whole fingerprint on view, and
    // selectable, so that it can be copied and compared.
    void theRealTrustBoxShowsTheWholeFingerprintSelectable()
    {
        widgets::MessageBoxPrompter real(QStringLiteral("Velora"));
        openWindow(real);
        real.setParent(window_.get());
        QString shown;
        bool selectable = false, wholeOnView = false;
        // The box waits in its own event loop: look for it from a timer.
        QTimer look;
        look.setInterval(20);
        connect(&look, &QTimer::timeout, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            look.stop();
            auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
            if (label) {
                shown = label->text();
                selectable = label->textInteractionFlags().testFlag(Qt::TextSelectableByMouse);
                // The prose wraps; the fingerprint, one word, must fit whole.
                for (const QString &line : shown.split(u'\n'))
                    if (plainHex(line.toStdString()) == fingerprint_)
                        wholeOnView = label->fontMetrics().horizontalAdvance(line) <= label->width();
            }
            if (const QByteArray shot = qgetenv("VELORA_TRUST_SHOT"); !shot.isEmpty())
                box->grab().save(QString::fromLocal8Bit(shot));
            box->button(QMessageBox::No)->click();
        });
        look.start();
        window_->Button1Click();
        QVERIFY(waitFor([&] { return !shown.isEmpty(); }, 10000));
        QVERIFY2(plainHex(shown.toStdString()).find(fingerprint_) != std::string::npos, qPrintable(shown));
        QVERIFY(selectable);
        QVERIFY(wholeOnView);
        QVERIFY(!QFile::exists(settings_->pinFile()));
    }
};

QTEST_MAIN(ClientTrustTest)
#include "ClientTrustTest.moc"
