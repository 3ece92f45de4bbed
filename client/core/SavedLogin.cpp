#include "client/core/SavedLogin.h"

#include <algorithm>

#include <cerrno>

#include <QFile>

#include "common/CredentialCipher.h"
#include "common/FileIo.h"
#include "common/TextCodec.h"
#include "common/TextLines.h"
#include "common/WireCodec.h"

namespace velora::client::core {

SavedLogin::SavedLogin(QString path) : path_(std::move(path)) {}

bool SavedLogin::load()
{
    lines_.clear();
    int e = 0;
    const auto content = readWholeFile(QFile::encodeName(path_).toStdString(), &e);
    if (!content)
        return e == ENOENT;
    lines_ = splitTextLines(*content);
    return true;
}

bool SavedLogin::save(QString *error) const
{
    std::string data;
    for (const auto &l : lines_) {
        data += l;
        data += "\r\n";
    }
    // The cipher is no secret: only the owner may read the remembered password,
    // also when an older copy of the file was readable by others.
    if (!writeFileAtomically(QFile::encodeName(path_).toStdString(), data, WriteMode{0600, true}, nullptr)) {
        if (error)
            *error = QStringLiteral("cannot write %1").arg(path_);
        return false;
    }
    return true;
}

std::optional<LoginCredentials> SavedLogin::remembered(bool *corrupt) const
{
    if (corrupt)
        *corrupt = false;
    if (lines_.empty())
        return std::nullopt;
    const auto fields = wire::split(lines_.front(), wire::ListSep, 2);
    const auto password = Decrypt(wire::at(fields, 1));
    // A name no one typed: bytes of a damaged file, not a login to send.
    const std::string &user = wire::at(fields, 0);
    const bool plausible = !user.empty() && user.size() <= 255 &&
                           std::none_of(user.begin(), user.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    if (!password || !plausible) {
        if (corrupt)
            *corrupt = true;
        return std::nullopt;
    }
    return LoginCredentials{wire::at(fields, 0), *password};
}

void SavedLogin::remember(const std::string &user, const std::string &password)
{
    std::string line = sanitizeTyped(trimBlanks(user));
    line += wire::ListSep;
    line += Encrypt(trimBlanks(password));
    line += wire::ListSep;
    if (lines_.empty())
        lines_.push_back(std::move(line));
    else
        lines_.front() = std::move(line);
}

void SavedLogin::forget()
{
    if (!lines_.empty())
        lines_.erase(lines_.begin());
}

}  // namespace velora::client::core
