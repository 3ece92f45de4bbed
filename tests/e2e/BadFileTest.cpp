// The real server started on damaged files: each file of the base dir in
// each form of damage. It must come up and serve, name a file it could not
// use, and leave the damaged file as it found it. Each case prints one row
// of the table "file | damage | what the server said | what it did".
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include <filesystem>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "support/RawWireClient.h"
#include "support/ServerProcess.h"
#include "support/Wait.h"

using namespace velora::test;
namespace fs = std::filesystem;

namespace {

const std::string DemoCipher = "245-53-210-81-";

enum class Damage { Empty, Junk, LongLine, OpenToAll, Directory, DanglingLink };

const char *nameOf(Damage d)
{
    switch (d) {
    case Damage::Empty: return "empty";
    case Damage::Junk: return "binary junk";
    case Damage::LongLine: return "10 MiB line";
    case Damage::OpenToAll: return "mode 0666";
    case Damage::Directory: return "a directory";
    case Damage::DanglingLink: return "dangling symlink";
    }
    return "?";
}

std::string junk()
{
    std::string s;
    unsigned x = 12345;
    for (int i = 0; i < 4096; ++i) {
        x = x * 1103515245u + 12345u;
        s += static_cast<char>(x >> 16);
    }
    return s;
}

void damage(const std::string &path, Damage d)
{
    std::error_code ec;
    fs::remove_all(path, ec);
    switch (d) {
    case Damage::Empty: writeFile(path, ""); break;
    case Damage::Junk: writeFile(path, junk()); break;
    case Damage::LongLine: writeFile(path, std::string(10 << 20, 'A')); break;
    case Damage::OpenToAll:
        writeFile(path, readFile(path + ".good"));
        ::chmod(path.c_str(), 0666);
        break;
    case Damage::Directory: fs::create_directory(path); break;
    case Damage::DanglingLink: fs::create_symlink("/nonexistent/velora-gone", path); break;
    }
    if (d == Damage::Empty || d == Damage::Junk || d == Damage::LongLine)
        ::chmod(path.c_str(), 0600);
}

// What is at the path, to compare before and after.
std::string fingerprint(const std::string &path)
{
    std::error_code ec;
    const auto st = fs::symlink_status(path, ec);
    if (ec || !fs::exists(st))
        return "missing";
    if (fs::is_symlink(st))
        return "link " + fs::read_symlink(path).string();
    if (fs::is_directory(st))
        return "dir";
    struct stat s {};
    ::stat(path.c_str(), &s);
    return "file " + std::to_string(fs::file_size(path)) + " mode " + std::to_string(s.st_mode & 0777) + " " +
           std::to_string(std::hash<std::string>{}(readFile(path)));
}

// The lines of stderr that speak of the file, or of a problem at all.
std::string saidAbout(const std::string &out, const std::string &file)
{
    std::string said;
    std::size_t at = 0;
    while (at < out.size()) {
        const std::size_t end = std::min(out.find('\n', at), out.size());
        const std::string line = out.substr(at, end - at);
        if (line.find(file) != std::string::npos || line.find("warning") != std::string::npos)
            said += (said.empty() ? "" : " / ") + line.substr(0, 200);
        at = end + 1;
    }
    return said.empty() ? "nothing" : said;
}

struct BadFileFixture : ::testing::TestWithParam<Damage> {
    TempDir dir;
    std::string base = dir.file("base");
    std::unique_ptr<ServerProcess> server;
    quint16 port = freePort();

    std::string config(const std::string &name) const { return base + "/config/" + name; }

    void writeGoodFiles()
    {
        writeFile(config("config.ini"),
                  "[server]\nport=" + std::to_string(port) + "\nlisten=127.0.0.1\n[dial]\nconnectionlogging=1\n");
        writeFile(config("user.cfg"),
                  "demo" + L + "Demo user" + L + DemoCipher + L + "0" + L + "1" + L + "1" + L + "1" + L + "\r\n");
        writeFile(config("phonebook.ini"), "[Metro]\nspeed=56000\naddress=10.64.10.2\ndelay=1\n");
        writeFile(config("tip.cfg"), "A tip.\n");
        for (const char *f : {"config.ini", "user.cfg", "phonebook.ini", "tip.cfg"}) {
            ::chmod(config(f).c_str(), 0600);
            fs::copy_file(config(f), config(f) + ".good");
        }
    }

    // Starts, logs in (a refusal is an answer too) and dials; returns what it did.
    std::string serve(const std::string &file)
    {
        server->start();
        if (!server->waitForOutput("velora: online", 8000))
            return "did not come up: " + server->output();
        RawClient c;
        if (!c.open(port))
            return "not reachable";
        c.send("connect" + F + "pc1" + F + "10.0.0.1" + F + "demo" + F + DemoCipher + F + "\r\n");
        const std::string reply = c.line(3000);
        if (reply.rfind("OK" + F, 0) != 0)
            return reply.empty() ? "no login answer" : "login answered " + reply.substr(0, reply.find(F));
        c.send("dial" + F + "Metro" + F + "pc1" + F + "\r\n");
        const bool connected = !c.lineWith("Connected" + I, 6000).empty();
        std::string did = std::string("login OK, dial ") + (connected ? "connected" : "did not connect");
        if (file == "log.db") {
            c.send("hangup" + F + "\r\n");
            c.lineWith("READY", 4000);
        }
        return did;
    }
};

std::string row(const std::string &file, Damage d, const std::string &said, const std::string &did)
{
    return "| " + file + " | " + nameOf(d) + " | " + said + " | " + did + " |";
}

}  // namespace

TEST_P(BadFileFixture, TheServerServesNamesTheFileAndLeavesItAsItWas)
{
    const Damage d = GetParam();
    for (const std::string file : {"user.cfg", "phonebook.ini", "log.db"}) {
        SCOPED_TRACE(file + " " + nameOf(d));
        std::error_code ec;
        fs::remove_all(base + "/config", ec);
        server = std::make_unique<ServerProcess>(base);
        writeGoodFiles();
        if (file == "log.db") {
            // A good log first, for the mode 0666 case.
            server->start();
            ASSERT_TRUE(server->waitForOutput("velora: online")) << server->output();
            server->stop();
            fs::copy_file(config("log.db"), config("log.db.good"), fs::copy_options::overwrite_existing);
            server = std::make_unique<ServerProcess>(base);
        }
        damage(config(file), d);
        const std::string before = fingerprint(config(file));
        const std::string did = serve(file);
        server->stop();
        const std::string out = server->output();
        std::printf("%s\n", row(file, d, saidAbout(out, file), did).c_str());
        EXPECT_NE(did.find("login"), std::string::npos) << did << "\n" << out;
        // A damaged phonebook has no entry to dial; the others keep the line.
        if (file == "log.db" || d == Damage::OpenToAll) {
            EXPECT_NE(did.find("login OK, dial connected"), std::string::npos) << did << "\n" << out;
        }
        if (file == "log.db" && d == Damage::OpenToAll) {
            // A usable log takes the audit rows of the dial; its mode stays the owner's choice.
            struct stat s {};
            EXPECT_EQ(::stat(config(file).c_str(), &s), 0);
            EXPECT_EQ(s.st_mode & 0777, 0666u);
        } else if (file != "log.db" || d != Damage::Empty) {
            EXPECT_EQ(fingerprint(config(file)), before);
        }
        const bool benign = d == Damage::Empty || (file != "log.db" && d == Damage::DanglingLink);
        if (!benign) {
            EXPECT_NE(saidAbout(out, file), "nothing") << out;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EachDamage, BadFileFixture,
                         ::testing::Values(Damage::Empty, Damage::Junk, Damage::LongLine, Damage::OpenToAll,
                                           Damage::Directory, Damage::DanglingLink),
                         [](const auto &info) {
                             std::string n = nameOf(info.param);
                             std::string out;
                             for (char c : n)
                                 if (std::isalnum(static_cast<unsigned char>(c)))
                                     out += c;
                             return out;
                         });

// config.ini and tip.cfg: without a readable config.ini the server listens
// on the default port of all addresses, so it runs in a network namespace
// of its own (root only); tip.cfg is read by the window, so the server runs
// with its window, offscreen.
TEST_P(BadFileFixture, ConfigAndTipFilesGiveTheirDefaults)
{
    const Damage d = GetParam();
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root for a network namespace of its own";
    for (const std::string file : {"config.ini", "tip.cfg"}) {
        SCOPED_TRACE(file + " " + nameOf(d));
        std::error_code ec;
        fs::remove_all(base + "/config", ec);
        fs::create_directories(base + "/config");
        writeGoodFiles();
        if (file == "tip.cfg")
            writeFile(config("config.ini"), readFile(config("config.ini.good")) + "[general]\ntipoftheday=1\n");
        damage(config(file), d);
        const std::string before = fingerprint(config(file));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        QStringList args{QStringLiteral("-n"), QStringLiteral("--"), QStringLiteral(VELORA_SERVER_BINARY),
                         QStringLiteral("--no-shutdown"), QStringLiteral("--basedir"), QString::fromStdString(base)};
        if (file == "config.ini")
            args.insert(4, QStringLiteral("--headless"));
        p.start(QStringLiteral("unshare"), args);
        ASSERT_TRUE(p.waitForStarted(5000));
        std::string out;
        const bool up = waitFor(
            [&] {
                out += p.readAllStandardError().toStdString();
                return out.find("velora: online") != std::string::npos || p.state() == QProcess::NotRunning;
            },
            8000);
        // The window's start-up, the tip among it, a moment after "online".
        waitFor([&] { out += p.readAllStandardError().toStdString(); return false; }, file == "tip.cfg" ? 1500 : 200);
        const bool running = p.state() == QProcess::Running;
        p.terminate();
        if (!p.waitForFinished(5000)) {
            p.kill();
            p.waitForFinished(2000);
        }
        out += p.readAllStandardError().toStdString();
        std::string did = up && running ? "online" : "not running";
        const auto at = out.find("listening on port ");
        if (at != std::string::npos)
            did += ", " + out.substr(at, out.find(" (", at) - at);
        std::printf("%s\n", row(file, d, saidAbout(out, file), did).c_str());
        EXPECT_TRUE(up && running) << out;
        EXPECT_EQ(fingerprint(config(file)), before);
        if (file == "config.ini") {
            EXPECT_NE(out.find(d == Damage::OpenToAll ? "listening on port " + std::to_string(port)
                                                      : std::string("listening on port 225 of all addresses")),
                      std::string::npos)
                << out;
        }
        const bool benign = d == Damage::Empty || d == Damage::DanglingLink || d == Damage::OpenToAll;
        if (!benign) {
            EXPECT_NE(saidAbout(out, file), "nothing") << out;
        }
    }
}

// The log the server creates is private from the first byte, and so are
// the files SQLite keeps beside it.
TEST(SecretsAtRest, ANewLogIsPrivateToTheOwner)
{
    TempDir dir;
    ServerProcess server(dir.file("base"));
    const quint16 port = freePort();
    server.writeConfig("[server]\nport=" + std::to_string(port) + "\n[dial]\nconnectionlogging=1\n");
    server.start();
    ASSERT_TRUE(server.waitForOutput("velora: online")) << server.output();
    const std::string log = server.baseDir() + "/config/log.db";
    ASSERT_TRUE(waitFor([&] { return fs::exists(log + "-wal"); }, 3000));
    for (const std::string &f : {log, log + "-wal", log + "-shm"}) {
        struct stat st {};
        ASSERT_EQ(::stat(f.c_str(), &st), 0) << f;
        EXPECT_EQ(st.st_mode & 0777, 0600u) << f;
    }
    EXPECT_EQ(server.output().find("warning:"), std::string::npos) << server.output();
}

#ifdef VELORA_CLIENT_BINARY
// The client's two files, through its command line (--status), against the
// real server: it ends with a line naming the file, sends nothing of the
// damage and leaves the file as it was.
TEST_P(BadFileFixture, TheClientNamesItsDamagedFileAndLeavesIt)
{
    const Damage d = GetParam();
    server = std::make_unique<ServerProcess>(base);
    writeGoodFiles();
    server->start();
    ASSERT_TRUE(server->waitForOutput("velora: online")) << server->output();
    const std::string clientDir = dir.file("client");
    for (const std::string file : {"config.cfg", "user.cfg"}) {
        SCOPED_TRACE(file + " " + nameOf(d));
        std::error_code ec;
        fs::remove_all(clientDir, ec);
        fs::create_directories(clientDir + "/config");
        const std::string cfg = clientDir + "/config/config.cfg", login = clientDir + "/config/user.cfg";
        writeFile(cfg, "127.0.0.1\r\n" + std::to_string(port) + "\r\n2\r\n\r\n0\r\n0\r\n0\r\n0\r\n");
        writeFile(login, "demo" + L + DemoCipher + L + "\r\n");
        const std::string path = clientDir + "/config/" + file;
        fs::copy_file(path, path + ".good");
        damage(path, d);
        const std::string before = fingerprint(path);
        QProcess p;
        p.start(QStringLiteral(VELORA_CLIENT_BINARY),
                {QStringLiteral("--clientdir"), QString::fromStdString(clientDir), QStringLiteral("--status"),
                 QStringLiteral("--timeout"), QStringLiteral("3")});
        ASSERT_TRUE(p.waitForFinished(10000));
        const std::string out = p.readAllStandardOutput().toStdString(), err = p.readAllStandardError().toStdString();
        const std::string first = (err.empty() ? out : err).substr(0, (err.empty() ? out : err).find('\n'));
        std::printf("%s\n", row("client " + file, d, saidAbout(err, file),
                                "exit " + std::to_string(p.exitCode()) + ": " + first.substr(0, 120))
                                .c_str());
        EXPECT_LT(err.size(), 2000u) << "the damage went to the terminal";
        EXPECT_EQ(fingerprint(path), before);
        const bool benign = d == Damage::OpenToAll || (file == "config.cfg" && d == Damage::Empty);
        if (!benign) {
            EXPECT_NE(saidAbout(err, file), "nothing") << err;
        }
        if (d == Damage::OpenToAll) {
            EXPECT_EQ(p.exitCode(), 0) << out << err;
        }
    }
    EXPECT_EQ(server->output().find("failed login"), std::string::npos) << "a damaged saved login was sent";
}
#endif
