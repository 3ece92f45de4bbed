#pragma once
// Scratch base dirs and dial steps for the dial-up tests.

#include "server/dialup/lines/SimulatedLine.h"
#include "support/TestFiles.h"
#include "support/Wait.h"

#include <QTemporaryDir>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace velora::test {

using namespace velora::server::dialup;

// A scratch base dir, removed with the test.
struct BaseDir {
    QTemporaryDir dir;
    std::string path = dir.path().toStdString();
    std::string phonebook() const { return SimulatedLine::phonebookPathFor(path); }
    void writePhonebook(const std::string &content) const
    {
        std::filesystem::create_directories(path + "/config");
        std::ofstream(phonebook(), std::ios::binary) << content;
    }
};

// Lets every timer already started with no delay run first: a step the line
// or the engine queued before this call has been delivered once it returns.
// For checks that something did NOT follow, without sleeping.
inline bool letQueuedTimersRun()
{
    QObject context;
    bool passed = false;
    QTimer::singleShot(0, &context, [&passed] { passed = true; });
    return waitFor([&passed] { return passed; });
}

struct Step {
    ConnHandle handle;
    int state;
    int error;
    bool operator==(const Step &) const = default;
};

}  // namespace velora::test
