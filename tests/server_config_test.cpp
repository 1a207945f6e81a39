#include "server/server_config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(ServerConfig, DefaultsHostWelcomeOnTheBotsPort) {
    std::string error;
    std::optional<ServerConfig> config = parseServerOptions({}, error);
    ASSERT_TRUE(config.has_value());
    EXPECT_EQ(config->address, "127.0.0.1");
    EXPECT_EQ(config->port, 6670);
    EXPECT_EQ(config->worlds, std::set<std::string>({"welcome"}));
    EXPECT_EQ(config->hearingRange, 20000);
    EXPECT_TRUE(config->citizens.empty());
    EXPECT_EQ(config->maxTotalOutputBytes, 256u * 1024 * 1024);
    EXPECT_EQ(config->loginTimeoutMs, 10000);
    EXPECT_EQ(config->idleTimeoutMs, 30000);
    EXPECT_EQ(config->chatRate, 10);
    EXPECT_EQ(config->chatBurst, 20);
    EXPECT_EQ(config->reserved(), 256u);  // a sixteenth of 4096
    EXPECT_TRUE(config->bots.empty());
    EXPECT_TRUE(config->exempt.empty());
}

TEST(ServerConfig, OptionsAreReadOrRefused) {
    std::string error;
    std::optional<ServerConfig> config = parseServerOptions({"--listen",
                                                             "127.0.0.2:0",
                                                             "--world",
                                                             "a b",
                                                             "--world",
                                                             "lobby",
                                                             "--citizen",
                                                             "7:p:w",
                                                             "--hearing-range",
                                                             "5",
                                                             "--max-clients",
                                                             "3",
                                                             "--max-output",
                                                             "65536",
                                                             "--max-total-output",
                                                             "1048576",
                                                             "--login-timeout",
                                                             "250",
                                                             "--idle-timeout",
                                                             "20000",
                                                             "--chat-rate",
                                                             "0.5",
                                                             "--chat-burst",
                                                             "4",
                                                             "--citizen",
                                                             "1:relay:bot",
                                                             "--citizen=2::bot",
                                                             "--move-rate=0.5",
                                                             "--enter-burst=9",
                                                             "--address-share=0",
                                                             "--address-connections=5",
                                                             "--connect-rate=3",
                                                             "--login-attempts=2",
                                                             "--reserved-places=0",
                                                             "--write-timeout=100",
                                                             "--exempt=127.0.0.9"},
                                                            error);
    ASSERT_TRUE(config.has_value()) << error;
    EXPECT_EQ(config->address, "127.0.0.2");
    EXPECT_EQ(config->port, 0);
    EXPECT_EQ(config->worlds, std::set<std::string>({"a b", "lobby"}));
    EXPECT_EQ(config->citizens.at(7), "p:w");
    EXPECT_EQ(config->hearingRange, 5);
    EXPECT_EQ(config->maxClients, 3u);
    EXPECT_EQ(config->maxOutputBytes, 65536u);
    EXPECT_EQ(config->maxTotalOutputBytes, 1048576u);
    EXPECT_EQ(config->loginTimeoutMs, 250);
    EXPECT_EQ(config->idleTimeoutMs, 20000);
    EXPECT_EQ(config->chatRate, 0.5);
    EXPECT_EQ(config->chatBurst, 4);
    EXPECT_EQ(config->citizens.at(1), "relay");
    EXPECT_EQ(config->citizens.at(2), "");
    EXPECT_EQ(config->bots, (std::set<int>{1, 2}));  // 7's password merely holds a colon
    EXPECT_EQ(config->moves.rate, 0.5);
    EXPECT_EQ(config->entries.burst, 9);
    EXPECT_EQ(config->addressShare, 0);
    EXPECT_EQ(config->addressConnections, 5u);
    EXPECT_EQ(config->connects.rate, 3);
    EXPECT_EQ(config->loginAttempts, 2);
    EXPECT_EQ(config->reserved(), 0u);
    EXPECT_EQ(config->writeTimeoutMs, 100);
    EXPECT_EQ(config->exempt, (std::set<std::uint32_t>{0x7f000009}));
    std::string ignored;
    EXPECT_EQ(parseServerOptions({"--chat-rate", "0"}, ignored)->chatRate, 0);
    EXPECT_EQ(parseServerOptions({"--idle-timeout", "0"}, ignored)->idleTimeoutMs, 0);

    const std::vector<std::vector<std::string>> refused = {
        {"--listen"},
        {"--listen", "127.0.0.1:70000"},
        {"--listen", "127.0.0.1:x"},
        {"--world", ""},
        {"--citizen", "7"},
        {"--citizen", "0:pw"},
        {"--citizen", "-3:pw"},
        {"--hearing-range", "-1"},
        {"--max-clients", "0"},
        {"--max-output", "10"},
        {"--max-total-output", "10"},
        {"--login-timeout", "0"},
        // Shorter than the clients' quiet spell before a Ping.
        {"--idle-timeout", "19999"},
        {"--chat-rate", "-1"},
        {"--chat-rate", "fast"},
        {"--chat-rate", "nan"},
        {"--chat-rate", "2x"},
        {"--chat-burst", "0"},
        {"--exempt", "localhost"},
        {"--login-attempts", "0"},
        {"--write-timeout", "99"},
        {"--move-rate", "-1"},
        {"--unknown", "1"},
    };
    for (const auto& args : refused) {
        error.clear();
        EXPECT_FALSE(parseServerOptions(args, error).has_value()) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(ServerConfig, ValuesAfterAnEqualsSignAndHelpOrVersionAnywhere) {
    std::string error;
    CommandLineRequest request = CommandLineRequest::Help;
    auto config = parseServerOptions({"--citizen=7:a=b", "--listen=0", "--hearing-range", "9"},
                                     error, request);
    ASSERT_TRUE(config.has_value()) << error;
    EXPECT_EQ(request, CommandLineRequest::Run);
    EXPECT_EQ(config->citizens.at(7), "a=b");
    EXPECT_EQ(config->port, 0);
    EXPECT_EQ(config->hearingRange, 9);

    ASSERT_TRUE(parseServerOptions({"--listen", "0", "--help"}, error, request).has_value());
    EXPECT_EQ(request, CommandLineRequest::Help);
    ASSERT_TRUE(parseServerOptions({"--max-clients=0", "--version"}, error, request).has_value());
    EXPECT_EQ(request, CommandLineRequest::Version);

    EXPECT_FALSE(parseServerOptions({"--max-clients=x"}, error, request).has_value());
    EXPECT_EQ(error, "bad value for --max-clients: \"x\" (expected a number from 1 to 1000000)");
}

TEST(ServerConfig, TheLiveMapIsOffUnlessAskedForAndOnLoopbackByDefault) {
    std::string error;
    auto plain = parseServerOptions({"--listen", "0"}, error);
    ASSERT_TRUE(plain.has_value()) << error;
    EXPECT_FALSE(plain->http);

    struct Case {
        std::vector<std::string> args;
        std::string address;
        int port;
    };
    const std::vector<Case> accepted = {
        {{"--http", "8080"}, "127.0.0.1", 8080},
        {{"--http", "0"}, "127.0.0.1", 0},
        {{"--http=0.0.0.0:65535"}, "0.0.0.0", 65535},
        {{"--http", "127.0.0.2:0", "--listen", "10.0.0.1:7"}, "127.0.0.2", 0},
    };
    for (const Case& c : accepted) {
        auto config = parseServerOptions(c.args, error);
        ASSERT_TRUE(config.has_value()) << c.args[0] << ": " << error;
        EXPECT_TRUE(config->http);
        EXPECT_EQ(config->httpAddress, c.address);
        EXPECT_EQ(config->httpPort, c.port);
    }
    // The map's address leaves the world's own alone.
    EXPECT_EQ(parseServerOptions({"--http", "127.0.0.9:1"}, error)->address, "127.0.0.1");

    const std::vector<std::vector<std::string>> refused = {
        {"--http"}, {"--http", ""}, {"--http", "65536"}, {"--http", "127.0.0.1:"},
        {"--http", "-1"}, {"--http", "port"}, {"--http", "1:2:x"},
    };
    for (const auto& args : refused) {
        error.clear();
        EXPECT_FALSE(parseServerOptions(args, error).has_value()) << args.back();
        EXPECT_NE(error.find("http"), std::string::npos) << error;
    }
}
