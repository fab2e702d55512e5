// The e-mail notice against a real SMTP server (aiosmtpd) on 127.0.0.1: the
// saved message's headers, the empty line, a dot-stuffed body, and refusals.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "delivery/email.h"
#include "delivery_fixture.h"
#include "support/loopback_server.h"
#include "support/test_support.h"

namespace tallowick::delivery {
namespace {

using tallowick::test::read_file;

TEST(Email, RecipientSpecAndServerChoice) {
    const Recipient r = parse_recipient("mailto:ann@example.org,  smtp.example.org:2525");
    EXPECT_EQ(r.address, "ann@example.org");
    EXPECT_EQ(r.server, "smtp.example.org:2525");
    EXPECT_EQ(parse_recipient("MAILTO:bob@example.org").server, "");

    PostSettings post;
    EXPECT_EQ(mail_server_for(r, post, "host.lan"), "smtp.example.org:2525");
    EXPECT_EQ(mail_server_for({"bob@x", ""}, post, "web1.example.com"), "mail.example.com");
    EXPECT_EQ(mail_server_for({"bob@x", ""}, post, "web1"), "localhost");
    post.smtpserver = "relay:587";
    EXPECT_EQ(mail_server_for(r, post, "host.lan"), "relay:587");

    EXPECT_EQ(sender_address(post), "tallowick@localhost");
    post.smtpuser = "reports@example.org";
    EXPECT_EQ(sender_address(post), "reports@example.org");
}

class SmtpServer : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = tallowick::test::start_smtp_server(dir_.path());
        ASSERT_TRUE(server_->ready()) << server_->output();
        post_.smtpserver = "127.0.0.1:" + std::to_string(server_->port());
    }
    // The saved message N, waiting briefly for the server to write it.
    std::string saved(int n) {
        const auto path = dir_ / (std::to_string(n) + ".eml");
        for (int i = 0; i < 100 && !std::filesystem::exists(path); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return std::filesystem::exists(path) ? read_file(path) : std::string();
    }
    tallowick::test::TempDir dir_;
    std::unique_ptr<tallowick::test::LoopbackServer> server_;
    PostSettings post_;
};

TEST_F(SmtpServer, SendsHeadersEmptyLineAndDotStuffedBody) {
    test::StatusRecorder sink;
    const std::string body = "Report ready.\r\n.hidden line\r\n..two dots\r\n.\r\nend";
    ASSERT_EQ(email_send("mailto:ann@example.org", body, post_), MailResult::sent)
        << (sink.errors.empty() ? "" : sink.errors[0]);
    const std::string message = saved(1);
    const std::size_t blank = message.find("\r\n\r\n");
    ASSERT_NE(blank, std::string::npos) << message;
    const std::string headers = message.substr(0, blank + 2);
    EXPECT_EQ(headers.find("To: ann@example.org\r\n"), 0u) << headers;
    EXPECT_NE(headers.find("FROM: Tallowick Notify <tallowick@localhost>\r\n"), std::string::npos);
    EXPECT_NE(headers.find("SUBJECT: Tallowick Post Process Notify\r\n"), std::string::npos);
    EXPECT_NE(headers.find("DATE: "), std::string::npos);
    EXPECT_NE(headers.find("Message-ID: <"), std::string::npos);
    // The server undoes the dot-stuffing: the body arrives as it was written.
    EXPECT_EQ(message.substr(blank + 4), body + "\r\n");
    EXPECT_EQ(read_file(dir_ / "1.env"), "tallowick@localhost\nann@example.org\n");
    EXPECT_TRUE(sink.said("Sending message to ann@example.org"));
    EXPECT_TRUE(sink.said("mail sent"));

    // A second notice has an identifier of its own.
    ASSERT_EQ(email_send("ann@example.org", "again", post_), MailResult::sent);
    const auto id = [](const std::string& m) {
        const auto p = m.find("Message-ID: ");
        return m.substr(p, m.find("\r\n", p) - p);
    };
    EXPECT_NE(id(saved(2)), id(message));
}

TEST_F(SmtpServer, RefusalsAndMissingServersAreFailures) {
    test::StatusRecorder sink;
    EXPECT_EQ(email_send("refused@example.org", "body", post_), MailResult::refused);
    ASSERT_EQ(sink.errors.size(), 1u);
    EXPECT_NE(sink.errors[0].find("550"), std::string::npos) << sink.errors[0];
    EXPECT_FALSE(sink.said("mail sent"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "1.eml"));

    PostSettings closed;
    closed.smtpserver = "127.0.0.1:" + std::to_string(tallowick::test::free_port());
    EXPECT_EQ(email_send("ann@example.org", "body", closed), MailResult::connect_failed);
    PostSettings unknown;
    EXPECT_EQ(email_send("ann@example.org, no-such-host.invalid", "body", unknown),
              MailResult::no_server);
    EXPECT_EQ(sink.errors.size(), 3u);
}

}  // namespace
}  // namespace tallowick::delivery
