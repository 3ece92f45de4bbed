#include "server/dialup/lines/SimulatedLine.h"

#include "server/dialup/entries/PhonebookFile.h"
#include "server/dialup/entries/RasTexts.h"
#include "common/IniProfile.h"

#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <set>

#include <arpa/inet.h>

namespace velora::server::dialup {

namespace {

constexpr std::array<int, 9> kWalk{
    RasState::OpenPort,        RasState::PortOpened,          RasState::ConnectDevice,
    RasState::DeviceConnected, RasState::AllDevicesConnected, RasState::Authenticate,
    RasState::Authenticated,   RasState::Projected,           RasState::Connected,
};

constexpr int kMaxDelayMs = 60000;
const char *const kDefaultDevice = "Simulated modem";
const char *const kDefaultDeviceType = "modem";

bool isDottedIPv4(const std::string &text)
{
    in_addr a{};
    return ::inet_pton(AF_INET, text.c_str(), &a) == 1;
}

std::int64_t steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

SimulatedLine::SimulatedLine(const std::string &baseDir, QObject *parent)
    : LineDriver(book_, parent),
      book_(phonebookPathFor(baseDir), {kDefaultDevice, kDefaultDeviceType, {}}),
      clock_(steadyMs)
{
    using K = EntryField::Kind;
    book_.setFields({{"phone", "Phone number", {}, K::Text},
                     {"speed", "Speed (bit/s)", {}, K::Number},
                     {"address", "Address (IPv4)", {}, K::Address},
                     {"failcode", "Failure code", {}, K::Number},
                     {"failstate", "Failure state", {}, K::Number}});
}

SimulatedLine::~SimulatedLine() = default;

std::string SimulatedLine::phonebookPathFor(const std::string &baseDir)
{
    return baseDir + "/config/phonebook.ini";
}

void SimulatedLine::setDefaultStepDelay(int ms)
{
    defaultDelayMs_ = std::clamp(ms, 0, kMaxDelayMs);
}

void SimulatedLine::setClock(std::function<std::int64_t()> clock)
{
    clock_ = clock ? std::move(clock) : std::function<std::int64_t()>(steadyMs);
}

bool SimulatedLine::entryActive(const std::string &entry) const
{
    return std::any_of(connections_.begin(), connections_.end(), [&](const auto &kv) {
        return phonebook::equalsNoCase(kv.second.entry, entry);
    });
}

int SimulatedLine::freeUnit() const
{
    std::set<int> used;
    for (const auto &kv : connections_)
        used.insert(kv.second.unit);
    int unit = 0;
    while (used.count(unit))
        ++unit;
    return unit;
}

SimulatedLine::Connection SimulatedLine::prepare(const std::string &section)
{
    const IniProfile ini(book_.path());
    const EntryProperties props = book_.properties(section);
    Connection c;
    c.entry = section;
    c.unit = freeUnit();
    c.deviceName = props.deviceName;
    c.deviceType = props.deviceType;
    const int speed = ini.readInteger(section, "speed", static_cast<int>(kDefaultSpeed));
    c.speed = speed > 0 ? static_cast<std::uint32_t>(speed) : kDefaultSpeed;
    c.address = ini.readString(section, "address", "");
    if (!isDottedIPv4(c.address))
        c.address = "10.64." + std::to_string(c.unit % 256) + ".2";
    c.failCode = std::max(0, ini.readInteger(section, "failcode", 0));
    c.failState = ini.readInteger(section, "failstate", RasState::ConnectDevice);
    if (c.failState == RasState::Connected ||
        std::find(kWalk.begin(), kWalk.end(), c.failState) == kWalk.end())
        c.failState = RasState::ConnectDevice;
    const int delay = ini.readInteger(section, "delay", -1);
    c.delayMs = delay < 0 ? defaultDelayMs_ : std::min(delay, kMaxDelayMs);
    c.dropAfterMs = std::max(0, ini.readInteger(section, "dropafter", 0));
    return c;
}

void SimulatedLine::markUp(Connection &c)
{
    c.state = RasState::Connected;
    c.errorCode = 0;
    c.nextStep = kWalk.size();
    c.ifIndex = nextIfIndex_++;
    c.upSinceMs = clock_();
}

int SimulatedLine::startDial(const DialParams &params, ConnHandle &handle)
{
    std::string section;
    if (const int rc = book_.locate(params.entryName, section))
        return rc;
    if (entryActive(section))
        return RasError::PortAlreadyOpen;
    Connection c = prepare(section);
    c.state = RasState::OpenPort;
    const int delay = c.delayMs;
    handle = nextHandle_++;
    connections_.emplace(handle, std::move(c));
    QTimer::singleShot(delay, this, [this, handle] { step(handle); });
    return 0;
}

void SimulatedLine::step(ConnHandle handle)
{
    // A hung-up dial leaves its timer behind; handles are never reused, so
    // the late step finds nothing.
    const auto it = connections_.find(handle);
    if (it == connections_.end() || it->second.nextStep >= kWalk.size())
        return;
    Connection &c = it->second;
    const int state = kWalk[c.nextStep++];
    c.state = state;
    int error = 0;
    if (c.failCode != 0 && state == c.failState) {
        error = c.errorCode = c.failCode;
        c.nextStep = kWalk.size();
    } else if (state == RasState::Connected) {
        markUp(c);
        if (c.dropAfterMs > 0 && std::find(droppedOnce_.begin(), droppedOnce_.end(), c.entry) == droppedOnce_.end()) {
            droppedOnce_.push_back(c.entry);
            QTimer::singleShot(c.dropAfterMs, this, [this, handle] { dropFromOutside(handle); });
        }
    } else {
        QTimer::singleShot(c.delayMs, this, [this, handle] { step(handle); });
    }
    // Last: a receiver may hang up, which erases c.
    emit dialProgress(handle, state, error);
}

int SimulatedLine::endConnection(ConnHandle handle)
{
    return connections_.erase(handle) ? 0 : RasError::InvalidHandle;
}

ConnHandle SimulatedLine::connectFromOutside(const std::string &entry)
{
    if (!isValidEntryName(entry) || entryActive(entry))
        return 0;
    std::string section = entry;
    book_.locate(entry, section);  // the phonebook's spelling when it has the entry
    Connection c = prepare(section);
    c.failCode = 0;
    markUp(c);
    const ConnHandle handle = nextHandle_++;
    connections_.emplace(handle, std::move(c));
    return handle;
}

bool SimulatedLine::dropFromOutside(ConnHandle handle)
{
    return connections_.erase(handle) > 0;
}

int SimulatedLine::enumConnections(std::vector<ConnectionInfo> &connections) const
{
    connections.clear();
    for (const auto &[handle, c] : connections_)
        connections.push_back({handle, c.entry, c.deviceName, c.deviceType, c.state, c.errorCode});
    return 0;
}

int SimulatedLine::projectionAddress(ConnHandle handle, std::string &ipv4) const
{
    const auto it = connections_.find(handle);
    if (it == connections_.end())
        return RasError::InvalidHandle;
    if (it->second.upSinceMs < 0)
        return RasError::ProjectionNotComplete;
    ipv4 = it->second.address;
    return 0;
}

int SimulatedLine::connectionSpeed(ConnHandle handle, std::uint32_t &bitsPerSecond) const
{
    const auto it = connections_.find(handle);
    if (it == connections_.end())
        return RasError::InvalidHandle;
    bitsPerSecond = it->second.speed;
    return 0;
}

std::vector<SimulatedInterface> SimulatedLine::interfaces() const
{
    std::vector<SimulatedInterface> result;
    const std::int64_t now = clock_();
    for (const auto &[handle, c] : connections_) {
        if (c.upSinceMs < 0)
            continue;
        // Half the line's speed down, an eighth up, from the moment it came up.
        const auto bits = static_cast<std::uint64_t>(std::max<std::int64_t>(0, now - c.upSinceMs)) *
                          c.speed / 1000;
        SimulatedInterface i;
        i.index = c.ifIndex;
        i.name = "ppp" + std::to_string(c.unit);
        i.description = "Simulated PPP interface";
        i.speed = c.speed;
        i.address = c.address;
        i.inOctets = static_cast<std::uint32_t>(bits / 16);
        i.outOctets = static_cast<std::uint32_t>(bits / 64);
        i.entryName = c.entry;
        i.handle = handle;
        result.push_back(std::move(i));
    }
    return result;
}

bool writeDemoPhonebook(const std::string &baseDir, std::string *error)
{
    static const char kDemo[] =
        "; Phone book of the simulated line: one section per entry.\n"
        "; Keys: phone, user, password, callback, domain, device, devicetype,\n"
        "; speed (bits per second), address (IPv4 handed out), failcode and\n"
        "; failstate (where a dial fails), delay (milliseconds between states).\n"
        "\n"
        "[Metro Online]\n"
        "phone=0804 1234 567\n"
        "user=demo\n"
        "password=demo\n"
        "speed=56000\n"
        "address=10.64.10.2\n"
        "\n"
        "[Harbour Net]\n"
        "phone=0815 222 3344\n"
        "user=guest\n"
        "password=guest\n"
        "speed=33600\n"
        "address=10.64.20.2\n"
        "\n"
        "[Busy Provider]\n"
        "phone=0899 000 0000\n"
        "user=demo\n"
        "password=demo\n"
        "failcode=676\n"
        "failstate=2\n";
    return phonebook::save(SimulatedLine::phonebookPathFor(baseDir), kDemo, error);
}

}  // namespace velora::server::dialup
