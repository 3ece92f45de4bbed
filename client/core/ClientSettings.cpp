#include "client/core/ClientSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "client/core/WireText.h"
#include "common/TextCodec.h"
#include "common/TextLines.h"

namespace velora::client::core {

namespace {

std::optional<long> toWholeNumber(const std::string &text)
{
    const std::string t = trimBlanks(text);
    if (t.empty() || t.size() > 9)
        return std::nullopt;
    long v = 0;
    for (char c : t) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

// Quoting of one argument of a desktop file's Exec key.
QString execArgument(const QString &arg)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : arg) {
        if (c == u'"' || c == u'`' || c == u'$')
            out += QStringLiteral("\\\\");  // backslash, itself escaped for the string value
        else if (c == u'\\')
            out += QStringLiteral("\\\\\\");
        if (c == u'%')
            out += u'%';
        out += c;
    }
    out += u'"';
    return out;
}

}  // namespace

QString resolveClientDir(const QString &fromCommandLine)
{
    QString dir = fromCommandLine;
    if (dir.isEmpty())
        dir = qEnvironmentVariable("VELORA_CLIENTDIR");
    if (dir.isEmpty())
        dir = defaultClientDir();
    return QDir(dir).absolutePath();
}

namespace {
QString configHome()
{
    const QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // As the XDG base directories have it: a relative value is ignored.
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        return QDir::homePath() + QStringLiteral("/.config");
    return base;
}
}  // namespace

QString defaultClientDir() { return configHome() + QStringLiteral("/velora-client"); }

QString defaultAutostartFile() { return configHome() + QStringLiteral("/autostart/velora-client.desktop"); }

ClientSettings::ClientSettings(QString clientDir, QString autostartFile)
    : clientDir_(std::move(clientDir)), autostartFile_(std::move(autostartFile))
{
    values_[Encrypted] = "1";
    values_[EncryptedPort] = "226";
}

QString ClientSettings::configFile() const { return clientDir_ + QStringLiteral("/config/config.cfg"); }
QString ClientSettings::savedLoginFile() const { return clientDir_ + QStringLiteral("/config/user.cfg"); }
QString ClientSettings::pinFile() const { return clientDir_ + QStringLiteral("/config/fingerprint.cfg"); }
QString ClientSettings::tipFile() const { return clientDir_ + QStringLiteral("/config/tip.cfg"); }
QString ClientSettings::helpFile(const QString &name) const
{
    return clientDir_ + QStringLiteral("/client help/") + name;
}

bool ClientSettings::loadcfg()
{
    QFile f(configFile());
    loadError_.clear();
    if (QFileInfo(configFile()).isDir()) {
        loadError_ = QStringLiteral("%1 is a directory, not a file").arg(configFile());
        return false;
    }
    if (!f.open(QIODevice::ReadOnly)) {
        if (f.exists())
            loadError_ = QStringLiteral("cannot read %1: %2").arg(configFile(), f.errorString());
        return false;
    }
    const QByteArray data = f.readAll();
    const auto lines = splitTextLines(std::string_view(data.constData(), static_cast<std::size_t>(data.size())));
    if (f.error() != QFileDevice::NoError)
        return false;
    for (std::size_t i = 0; i < lines.size() && i < values_.size(); ++i)
        values_[i] = lines[i];
    // Written before encryption existed: the server may not offer it.
    if (lines.size() <= Encrypted)
        values_[Encrypted] = "0";
    return true;
}

bool ClientSettings::savecfg(const PanelValues &p, const QString &programPath, QString *error) const
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    auto flag = [](bool on) { return std::string(on ? "1" : "0"); };
    const std::string lines[] = {trimBlanks(p.address), p.port, p.interval, p.defaultEntry,
                                 flag(p.autoconnect), flag(p.minimize), flag(p.startWithDesktop),
                                 flag(p.showTips), flag(p.reconnect), flag(p.encrypted), p.encryptedPort};
    QByteArray data;
    for (const auto &l : lines) {
        data.append(l.data(), static_cast<qsizetype>(l.size()));
        data.append("\r\n");
    }

    bool ok = true;
    QString why;
    if (p.startWithDesktop) {
        QDir().mkpath(QFileInfo(autostartFile_).absolutePath());
        QSaveFile a(autostartFile_);
        const QString text = QStringLiteral(
                                 "[Desktop Entry]\nType=Application\nName=Velora client\n"
                                 "Comment=Shares the office's dial-up line\nExec=%1 --clientdir %2\n"
                                 "Terminal=false\nX-GNOME-Autostart-enabled=true\n")
                                 .arg(execArgument(programPath), execArgument(clientDir_));
        if (!a.open(QIODevice::WriteOnly) || a.write(text.toUtf8()) < 0 || !a.commit()) {
            ok = false;
            why = QStringLiteral("cannot write %1").arg(autostartFile_);
        }
    } else if (QFile::exists(autostartFile_) && !QFile::remove(autostartFile_)) {
        ok = false;
        why = QStringLiteral("cannot remove %1").arg(autostartFile_);
    }

    // A missing config folder would lose the settings silently.
    QDir().mkpath(QFileInfo(configFile()).absolutePath());
    QSaveFile f(configFile());
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size() || !f.commit())
        return fail(QStringLiteral("cannot write %1").arg(configFile()));
    return ok ? true : fail(why);
}

namespace {
// A value from a file that may hold anything: short, without control bytes.
std::string forMessage(const std::string &value)
{
    std::string out;
    for (const char c : value.substr(0, 40))
        out += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
    return value.size() > 40 ? out + "..." : out;
}
}  // namespace

std::optional<AppliedSettings> ClientSettings::activatecfg(QString *error)
{
    AppliedSettings s;
    s.host = trimBlanks(values_[ServerAddress]);
    // A name of the DNS is at most 253 bytes; anything longer is damage.
    if (s.host.size() > 253 || forMessage(s.host) != s.host) {
        if (error)
            *error = QStringLiteral("%1 line 1: '%2' is not a server address")
                         .arg(configFile(), shownText(forMessage(s.host)));
        return std::nullopt;
    }
    if (values_[ServerPort].empty())
        values_[ServerPort] = "225";
    const auto port = toWholeNumber(values_[ServerPort]);
    if (!port || *port < 1 || *port > 65535) {
        if (error)
            *error = QStringLiteral("%1 line 2: '%2' is not a valid port number")
                         .arg(configFile(), shownText(forMessage(values_[ServerPort])));
        return std::nullopt;
    }
    s.port = static_cast<std::uint16_t>(*port);
    if (values_[UpdateInterval].empty())
        values_[UpdateInterval] = "2";
    const auto interval = toWholeNumber(values_[UpdateInterval]);
    // Zero would make the poll timer spin.
    if (!interval || *interval < 1 || *interval > 3600) {
        if (error)
            *error = QStringLiteral("%1 line 3: '%2' is not a valid update interval")
                         .arg(configFile(), shownText(forMessage(values_[UpdateInterval])));
        return std::nullopt;
    }
    s.pollIntervalMs = static_cast<int>(*interval) * 500;
    s.encrypted = flag(Encrypted);
    if (trimBlanks(values_[EncryptedPort]).empty())
        values_[EncryptedPort] = "226";
    const auto tlsPort = toWholeNumber(values_[EncryptedPort]);
    if (!tlsPort || *tlsPort < 1 || *tlsPort > 65535) {
        if (error)
            *error = QStringLiteral("%1 line 11: '%2' is not a valid port number")
                         .arg(configFile(), shownText(forMessage(values_[EncryptedPort])));
        return std::nullopt;
    }
    s.tlsPort = static_cast<std::uint16_t>(*tlsPort);
    return s;
}

bool ClientSettings::autostartEnabled() const
{
    QFile f(autostartFile_);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine().trimmed();
        if (line.startsWith("Exec=") && line.size() > 5)
            return true;
    }
    return false;
}

}  // namespace velora::client::core
