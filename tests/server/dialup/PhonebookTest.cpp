#include "support/DialupTestSupport.h"

#include "server/dialup/entries/RasTexts.h"

#include <gtest/gtest.h>

using namespace velora::server::dialup;

namespace velora::test {
namespace {

const std::string kBook =
    "; operator's notes\r\n"
    "[Alpha]\r\n"
    "phone=111\r\n"
    "user=ann\r\n"
    "\r\n"
    "[Beta]\r\n"
    "; keep this comment\r\n"
    "phone=222\r\n"
    "[Gamma]\r\n"
    "phone=333";

class PhonebookTest : public ::testing::Test {
protected:
    PhonebookTest() { base.writePhonebook(kBook); }

    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        EXPECT_EQ(line.entries().enumEntries(names), 0);
        return names;
    }

    BaseDir base;
    SimulatedLine line{base.path};
};

TEST_F(PhonebookTest, RenameDeleteAndCreateLeaveTheOtherSectionsAlone)
{
    EXPECT_EQ(entries(), (std::vector<std::string>{"Alpha", "Beta", "Gamma"}));

    EXPECT_EQ(line.entries().renameEntry("beta", "Beta Two"), 0);
    EXPECT_EQ(readFile(base.phonebook()),
              "; operator's notes\r\n[Alpha]\r\nphone=111\r\nuser=ann\r\n\r\n"
              "[Beta Two]\r\n; keep this comment\r\nphone=222\r\n[Gamma]\r\nphone=333");

    EXPECT_EQ(line.entries().renameEntry("Alpha", "gamma"), RasError::AlreadyExists);
    EXPECT_EQ(line.entries().renameEntry("Nope", "Other"), RasError::CannotFindPhonebookEntry);
    EXPECT_EQ(line.entries().renameEntry("Alpha", "Bad\xE3Name"), RasError::InvalidParameter);
    EXPECT_EQ(line.entries().renameEntry("Alpha", "ALPHA"), 0) << "a change of case is a rename";

    EXPECT_EQ(line.entries().deleteEntry("ALPHA"), 0);
    EXPECT_EQ(readFile(base.phonebook()),
              "; operator's notes\r\n"
              "[Beta Two]\r\n; keep this comment\r\nphone=222\r\n[Gamma]\r\nphone=333");
    EXPECT_EQ(line.entries().deleteEntry("Alpha"), RasError::CannotFindPhonebookEntry);

    EXPECT_EQ(line.entries().createEntry("Delta", {"444", "", ""}), 0);
    EXPECT_EQ(line.entries().createEntry("delta", {"555", "", ""}), RasError::AlreadyExists);
    EXPECT_EQ(line.entries().createEntry("Two\nLines", {"1", "", ""}), RasError::InvalidParameter);
    EXPECT_EQ(readFile(base.phonebook()),
              "; operator's notes\r\n"
              "[Beta Two]\r\n; keep this comment\r\nphone=222\r\n[Gamma]\r\nphone=333\r\n"
              "[Delta]\r\nphone=444\r\n");
    EXPECT_EQ(entries(), (std::vector<std::string>{"Beta Two", "Gamma", "Delta"}));

    EntryProperties props;
    EXPECT_EQ(line.entries().getEntryProperties("Delta", props), 0);
    EXPECT_EQ(props.phoneNumber, "444");
    EXPECT_EQ(props.deviceName, "Simulated modem");
    EXPECT_EQ(props.deviceType, "modem");
    EXPECT_EQ(line.entries().setEntryProperties("Delta", {"445", "USB modem", "isdn"}), 0);
    EXPECT_EQ(line.entries().getEntryProperties("Delta", props), 0);
    EXPECT_EQ(props.deviceName, "USB modem");
    EXPECT_EQ(props.deviceType, "isdn");
}

TEST_F(PhonebookTest, DialParametersRoundTripAndPasswordsCanBeRemoved)
{
    DialParams p;
    p.userName = " spaced user ";
    p.password = "\"quoted\"";
    p.domain = "corp";
    p.callbackNumber = "999";
    EXPECT_EQ(line.entries().setDialParams("gamma", p, false), 0);

    DialParams read;
    EXPECT_EQ(line.entries().getDialParams("Gamma", read), 0);
    EXPECT_EQ(read.entryName, "Gamma");
    EXPECT_EQ(read.phoneNumber, "333") << "an empty number leaves the entry's own";
    EXPECT_EQ(read.userName, " spaced user ");
    EXPECT_EQ(read.password, "\"quoted\"");
    EXPECT_EQ(read.domain, "corp");
    EXPECT_EQ(read.callbackNumber, "999");
    EXPECT_TRUE(read.passwordSaved);

    EXPECT_EQ(line.entries().setDialParams("Gamma", p, true), 0);
    EXPECT_EQ(line.entries().getDialParams("Gamma", read), 0);
    EXPECT_FALSE(read.passwordSaved);
    EXPECT_EQ(read.userName, " spaced user ");

    p.password = "two\r\nlines";
    EXPECT_EQ(line.entries().setDialParams("Gamma", p, false), RasError::InvalidParameter);
    EXPECT_EQ(line.entries().getDialParams("Missing", read), RasError::CannotFindPhonebookEntry);
    EXPECT_EQ(line.entries().getDialParams("", read), RasError::CannotFindPhonebookEntry);
}

TEST(PhonebookFileTest, MalformedOrMissingPhonebooksListOnlyUsableEntries)
{
    BaseDir base;
    SimulatedLine line{base.path};
    std::vector<std::string> names{"left over"};
    EXPECT_EQ(line.entries().enumEntries(names), 0);
    EXPECT_TRUE(names.empty()) << "no phonebook yet: no entries";

    base.writePhonebook(std::string("stray=line\n"
                                    "garbage without equals\n"
                                    "[Open Header\n"
                                    "phone=1\n"
                                    "[]\n"
                                    "[Sep\xE0Name]\n"
                                    "[  Padded  ]\n"
                                    "[open header]\n"
                                    "phone=2\n"
                                    "[Bin\x01ary]\n") +
                        std::string("\0\xff\n", 3));
    EXPECT_EQ(line.entries().enumEntries(names), 0);
    EXPECT_EQ(names, (std::vector<std::string>{"Open Header", "Padded"}));

    // The first of two same-named sections is the one that counts.
    EntryProperties props;
    EXPECT_EQ(line.entries().getEntryProperties("OPEN HEADER", props), 0);
    EXPECT_EQ(props.phoneNumber, "1");
    // Deleting removes both, so the second cannot resurface.
    EXPECT_EQ(line.entries().deleteEntry("Open Header"), 0);
    EXPECT_EQ(line.entries().enumEntries(names), 0);
    EXPECT_EQ(names, (std::vector<std::string>{"Padded"}));

    // A dial with broken numbers in the file falls back to the defaults.
    base.writePhonebook("[Odd]\nspeed=fast\naddress=300.1.1.1\nfailstate=77\nfailcode=680\n"
                        "delay=-5\n");
    line.setDefaultStepDelay(0);
    std::vector<Step> steps;
    QObject::connect(&line, &LineDriver::dialProgress,
                     [&](ConnHandle h, int s, int e) { steps.push_back({h, s, e}); });
    DialParams params;
    ASSERT_EQ(line.entries().getDialParams("Odd", params), 0);
    ConnHandle h = 0;
    ASSERT_EQ(line.dial(params, h), 0);
    ASSERT_TRUE(waitFor([&] { return !steps.empty() && steps.back().error != 0; }));
    EXPECT_EQ(steps.back(), (Step{h, RasState::ConnectDevice, RasError::NoDialTone}));
    std::uint32_t speed = 0;
    EXPECT_EQ(line.connectionSpeed(h, speed), 0);
    EXPECT_EQ(speed, SimulatedLine::kDefaultSpeed);
}

}  // namespace
}  // namespace velora::test
