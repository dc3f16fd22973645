// The Windows program's proxy: its environment first, else the user's own
// setting, read where Windows keeps it. The setting is written under a key of
// this process's own, which HKEY_CURRENT_USER stands for while the test runs,
// so no other program or test sees it.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "http/fetch.h"
#include "http/proxy.h"
#include "tests/http/fetch_fixture.h"
#include "tests/support/http_proxy.h"
#include "tests/support/scripted_web_server.h"

using namespace std::chrono_literals;

namespace {

class UsersProxySetting {
  public:
    UsersProxySetting() {
        const std::wstring name =
            L"Software\\Tavimor tests\\" + std::to_wstring(GetCurrentProcessId());
        RegCreateKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &root_, nullptr);
        overridden_ = root_ && RegOverridePredefKey(HKEY_CURRENT_USER, root_) == ERROR_SUCCESS;
    }
    ~UsersProxySetting() {
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        if (root_) {
            RegDeleteTreeW(root_, nullptr);
            RegCloseKey(root_);
        }
    }
    bool Ready() const { return overridden_; }

    // The setting as the system's dialog writes it: a fixed proxy and its
    // exemptions, in the binary value that holds every connection's setting.
    bool Set(const std::string& proxy, const std::string& bypass) const {
        std::vector<char> value;
        auto add_number = [&](uint32_t number) {
            for (int i = 0; i < 4; ++i)
                value.push_back(static_cast<char>(number >> (8 * i)));
        };
        auto add_text = [&](const std::string& text) {
            add_number(static_cast<uint32_t>(text.size()));
            value.insert(value.end(), text.begin(), text.end());
        };
        add_number(0x46);  // the version of the layout
        add_number(1);     // how often it was changed
        add_number(0x3);   // direct, and through the proxy
        add_text(proxy);
        add_text(bypass);
        add_text("");  // no automatic configuration script
        value.resize(value.size() + 32);
        // Below a volatile key, every key must be volatile too.
        HKEY connections = nullptr;
        if (RegCreateKeyExW(root_,
                            L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet "
                            L"Settings\\Connections",
                            0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &connections,
                            nullptr) != ERROR_SUCCESS)
            return false;
        LSTATUS status = RegSetValueExW(connections, L"DefaultConnectionSettings", 0, REG_BINARY,
                                        reinterpret_cast<const BYTE*>(value.data()),
                                        static_cast<DWORD>(value.size()));
        RegCloseKey(connections);
        return status == ERROR_SUCCESS;
    }

  private:
    HKEY root_ = nullptr;
    bool overridden_ = false;
};

class WindowsProxy : public FetchTest {
  protected:
    WindowsProxy() : FetchTest({2s, 2s, 2s}) {}
    void SetUp() override {
        FetchTest::SetUp();
        for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "no_proxy"})
            _putenv_s(name, "");  // the names are not case-sensitive here
    }
};

// Each case: the user's setting, the environment's http_proxy, the link's host,
// and which proxy (if any) was asked for it.
TEST_F(WindowsProxy, TheEnvironmentComesBeforeTheUsersSetting) {
    UsersProxySetting setting;
    ASSERT_TRUE(setting.Ready());
    ScriptedWebServer origin;
    HttpProxy users;
    HttpProxy environments;
    ASSERT_TRUE(users.Ready() && environments.Ready());
    const std::string at_users = "127.0.0.1:" + std::to_string(users.Port());
    const struct {
        const char* what;
        std::string proxy;
        std::string bypass;
        std::string http_proxy;
        std::string host;
        HttpProxy* asked;  // nullptr: none
    } cases[] = {
        {"every scheme", at_users, "", "", "127.0.0.1", &users},
        {"per scheme", "https=127.0.0.1:1;http=" + at_users, "", "", "127.0.0.1", &users},
        {"names without a dot are local", at_users, "<local>", "", "localhost", nullptr},
        {"a listed exemption", at_users, "*.0.0.1;other", "", "127.0.0.1", nullptr},
        {"environment first", at_users, "", environments.Url(), "127.0.0.1", &environments},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(setting.Set(c.proxy, c.bypass));
        _putenv_s("http_proxy", c.http_proxy.c_str());
        const std::size_t before_users = users.Requests().size();
        const std::size_t before_environments = environments.Requests().size();
        origin.Answer("/f.bin", {{{Ok + "Content-Length: 2\r\n\r\nok"}}, AnswerEnd::Close});
        const std::string link =
            "http://" + c.host + ":" + std::to_string(origin.Port()) + "/f.bin";
        FetchReport report;
        EXPECT_EQ(FetchHttpFile(link, target_, nullptr, &report), 1) << report.failure;
        EXPECT_EQ(users.Requests().size() - before_users, c.asked == &users ? 1u : 0u);
        EXPECT_EQ(environments.Requests().size() - before_environments,
                  c.asked == &environments ? 1u : 0u);
    }
}

}  // namespace
