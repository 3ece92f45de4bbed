// Time of one login check against a store of 10,000 users: the worst case
// (the last user) and a refused name that walks the whole list.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "common/CredentialCipher.h"
#include "server/users/UserStore.h"

using namespace velora::server::users;

using namespace velora;
using Clock = std::chrono::steady_clock;

int main()
{
    const auto path = std::filesystem::temp_directory_path() / "velora-bench-users.cfg";
    {
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < 10000; ++i)
            out << "user" << i << "\xE3" "Some description\xE3" << Encrypt("password" + std::to_string(i))
                << "\xE3" "0\xE3" "1\xE3" "1\xE3" "0\xE3\r\n";
    }
    server::users::UserStore store(path.string());
    auto t0 = Clock::now();
    store.updateuserlist();
    const double loadMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();

    const std::string cipher = Encrypt("password9999");
    const int rounds = 200;
    int accepted = 0;
    t0 = Clock::now();
    for (int i = 0; i < rounds; ++i)
        accepted += store.check("user9999", cipher).outcome == server::users::LoginResult::Outcome::Accepted;
    const double lastMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count() / rounds;
    t0 = Clock::now();
    for (int i = 0; i < rounds; ++i)
        accepted += store.check("nobody", cipher).outcome == server::users::LoginResult::Outcome::Accepted;
    const double missMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count() / rounds;
    std::filesystem::remove(path);
    std::printf("user store of 10000: load %.2f ms; login check, last user %.3f ms, unknown user %.3f ms (%d accepted of %d)\n",
                loadMs, lastMs, missMs, accepted, 2 * rounds);
    return 0;
}
