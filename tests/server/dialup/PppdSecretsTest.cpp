// Edits of pap-/chap-secrets files that a person left broken: what the
// fuzzer found, kept as cases.
#include <gtest/gtest.h>

#include "server/dialup/entries/PppdSyntax.h"

using namespace velora::server::dialup;

TEST(PppdSecrets, AnAddedSecretIsReadBackAfterABrokenLastLine)
{
    for (const std::string content : {"a b c", "a \"b c\nd e f\n", "x y z \\", "x y z \\\n", "a b#c \"d\n",
                                      "# it's\n", "a \"b\\", "a 'b"}) {
        const std::string written = withSecret(content, "ann", "isp", std::string("pw"));
        EXPECT_EQ(findSecret(written, "ann", "isp").value_or("none"), "pw") << content;
        EXPECT_EQ(written.substr(0, content.size()), content);
    }
}

TEST(PppdSecrets, ATakenAwaySecretIsGoneFromEveryLineOfThePair)
{
    const std::string content = "ann isp one\nbob * two\nann isp three\n";
    EXPECT_EQ(withSecret(content, "ann", "isp", std::nullopt), "bob * two\n");
}
