#pragma once
// Scratch base dirs and event-loop waits for the dial-up tests.

#include "server/dialup/SimulatedLine.h"

#include <QTemporaryDir>
#include <QtTest/QTest>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace velora::server::test {

// Runs the event loop until pred holds or ms have passed.
template <class Pred>
bool waitFor(Pred pred, int ms = 2000)
{
    return QTest::qWaitFor(pred, ms);
}

inline std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

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

struct Step {
    ConnHandle handle;
    int state;
    int error;
    bool operator==(const Step &) const = default;
};

}  // namespace velora::server::test
