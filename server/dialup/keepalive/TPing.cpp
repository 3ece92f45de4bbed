#include "server/dialup/keepalive/TPing.h"

#include <QTimer>

#include <algorithm>

#include <arpa/inet.h>

namespace velora::server::dialup {

static_assert(sizeof(TPing::kSignature) - 1 == 45);

TPing::TPing(HostLookup &lookup, IcmpPort &icmp, QObject *parent)
    : QObject(parent), lookup_(lookup), icmp_(icmp)
{
    connect(&lookup_, &HostLookup::finished, this, &TPing::onLookupFinished);
    connect(&icmp_, &IcmpPort::echoFinished, this, &TPing::onEchoFinished);
}

TPing::~TPing()
{
    cancel();
}

void TPing::setSize(int bytes)
{
    size_ = std::clamp(bytes, 0, 65000);
}

std::string TPing::payload(int size)
{
    std::string p(static_cast<std::size_t>(std::max(0, size)), ' ');
    std::copy_n(kSignature, std::min(p.size(), sizeof kSignature - 1), p.begin());
    return p;
}

void TPing::cancel()
{
    if (stage_ == Stage::LookingUp)
        lookup_.cancel();
    else if (stage_ == Stage::Echoing)
        icmp_.cancel();
    stage_ = Stage::Idle;
    ++round_;
}

bool TPing::startRound(const std::string &host, std::string *error)
{
    cancel();
    address_.clear();
    host_ = host;
    in_addr dotted{};
    if (::inet_pton(AF_INET, host.c_str(), &dotted) == 1) {
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &dotted, text, sizeof text);
        const std::string address = text;
        stage_ = Stage::Dotted;
        // Posted, so the caller never sees the round's signals inside its call.
        QTimer::singleShot(0, this, [this, round = round_, address] {
            if (round != round_ || stage_ != Stage::Dotted)
                return;
            stage_ = Stage::LookingUp;
            onLookupFinished(0, address);
        });
        return true;
    }
    // Set first, so that an answer can never find the round not yet begun.
    stage_ = Stage::LookingUp;
    if (!lookup_.start(host, nullptr)) {
        stage_ = Stage::Idle;
        if (error)
            *error = host + ": can't start DNS lookup, error #" +
                     std::to_string(PingError::InvalidArgument);
        return false;
    }
    return true;
}

void TPing::onLookupFinished(int errorCode, const std::string &address)
{
    if (stage_ != Stage::LookingUp)
        return;
    const unsigned round = round_;
    if (errorCode == 0)
        address_ = address;
    emit OnDnsLookupDone(errorCode);
    if (round != round_)
        return;  // a receiver started or cancelled a round
    if (errorCode != 0) {
        EchoResult r;
        r.errorCode = errorCode;
        r.errorText = host_ + ": look-up failed, error #" + std::to_string(errorCode);
        return finish(std::move(r));
    }
    std::string why;
    stage_ = Stage::Echoing;
    if (!icmp_.sendEcho(address_, payload(size_), ttl_, timeoutMs_, &why)) {
        EchoResult r;
        r.errorCode = PingError::GeneralFailure;
        r.errorText = why;
        r.address = address_;
        finish(std::move(r));
    }
}

void TPing::onEchoFinished(const EchoResult &result)
{
    if (stage_ == Stage::Echoing)
        finish(result);
}

void TPing::finish(EchoResult result)
{
    stage_ = Stage::Idle;
    ++round_;
    emit roundFinished(result);
}

}  // namespace velora::server::dialup
