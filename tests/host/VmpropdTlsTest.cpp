#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include "host/platform/JournalContext.h"
#include "host/platform/JournalStore.h"
#include "host/platform/TcpMsgClient.h"
#include "host/platform/TlsChannel.h"
#include "host/platform/TlsMsgServer.h"
#include "message/PropertiesObjectInput.h"
#include "platform/OrvexMsgClient.h"
#include "platform/Rsc_id.h"
#include "properties/COSProperties.h"
#include "tests/properties/StoreTesting.h"
#include "tests/testing/PlatformFixture.h"
#include "tests/testing/VmpropdProcess.h"

namespace {

using Io = MsgChannel::Io;
constexpr std::uint16_t kOwnerBox = 333;
constexpr int kUpdate = 39169;

// The 3080-byte update body for record 7, naming `handoff`.
String updateBody(const String& handoff) {
    Rsc_id owner{kOwnerBox, 0, 1};
    PropertiesObjectInput input{};
    std::uint32_t number = 7;
    std::memcpy(input.key, &number, sizeof number);
    std::memcpy(input.tmp_path, handoff.data(), handoff.size());
    std::memcpy(input.factory_name, "COSProperties", 13);
    return String(reinterpret_cast<const char*>(&owner), sizeof owner) +
           String(reinterpret_cast<const char*>(&input), sizeof input);
}

// Connects to 127.0.0.1:port; -1 on failure.
int connectTo(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    ::close(fd);
    return -1;
}

// The owner daemon of box 333 serving TCP on a port of the system's choice,
// with certificates for boxes 1 (this test process), 2, 333 and 334 made by the
// project's script under the root's default folder, and box 333 routed there.
class VmpropdTls : public PlatformFixture {
  protected:
    void SetUp() override {
        PlatformFixture::SetUp();
        COSProperties::btreeFD = -1;
        Properties::myPBox = 0;
        ::setenv("VM_MSG_CONNECT_MS", "1000", 1);
        tlsDir = hostPath("/VM/config/tls");
        ASSERT_EQ(certs(tlsDir, "1 2 333 334"), 0);
    }
    void TearDown() override {
        if (daemon.running()) {
            EXPECT_EQ(daemon.stop(), 0) << daemonLog();
        }
        ::unsetenv("VM_MSG_CONNECT_MS");
        ::unsetenv("VM_MSG_REPLY_MS");
        Properties::myPBox = 0;
        PlatformFixture::TearDown();
    }

    void startDaemon() {
        ASSERT_TRUE(
            daemon.start(root_, kOwnerBox, 2, {"--listen", "127.0.0.1:0", "--tls-dir", tlsDir}))
            << readFile("/vmpropd.out");
        std::size_t at = daemon.output().find("and tls://127.0.0.1:");
        ASSERT_NE(at, String::npos) << daemon.output();
        port = std::stoi(daemon.output().substr(at + 20));
        writeFile("/VM/config/msg_routes", "333 127.0.0.1:" + std::to_string(port) + "\n");
    }
    // Runs the project's certificate script on `directory`.
    static int certs(const String& directory, const String& arguments) {
        return std::system((String("'" CFGADM_SOURCE_DIR "/scripts/vm-certs.sh' '") + directory +
                            "' " + arguments + " >/dev/null")
                               .c_str());
    }
    String daemonLog() const { return readFile("/vm/log/trace.log"); }

    // A context of `box` from the fixture's certificates.
    std::unique_ptr<TlsContext> contextOf(std::uint16_t box) const {
        String error;
        auto context = TlsContext::load(tlsDir, box, TlsContext::Side::client, error);
        EXPECT_TRUE(context) << error;
        return context;
    }

    String tlsDir;
    int port = 0;
    VmpropdProcess daemon;
};

TEST_F(VmpropdTls, SaveOfAMebibyteSetIsStoredByteExactOverTls) {
    startDaemon();
    String expected;
    {
        COSProperties set(7UL);
        for (int i = 0; i < 16; ++i)
            putValue(set, "Value" + std::to_string(i),
                     String(64 * 1024, static_cast<char>('a' + i)));
        expected = streamOf(set);
        ASSERT_GT(expected.size(), 1u << 20);
        JournalContext::Scope user("Zoë", 0);
        ASSERT_TRUE(set.save()) << Properties::error_name(set.getError()) << "\n" << daemonLog();
    }
    EXPECT_TRUE(listDirectory("/vm/tmp").empty()) << "the owner removed its copy";
    EXPECT_EQ(streamOf(COSProperties(7UL)), expected);
    // The owner journals the user the sender saved for, and the box its
    // certificate names.
    std::string error;
    std::vector<JournalEntry> records;
    JournalQuery newest;
    newest.limit = 1;
    ASSERT_EQ(JournalStore::current(error)->query(newest, records, error), 0) << error;
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].actor, "Zoë");
    EXPECT_EQ(records[0].senderBox, 1);
}

std::size_t countOf(const String& text, const String& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != String::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST_F(VmpropdTls, SavesShareAConnectionAndSurviveTheOwnersRestart) {
    startDaemon();
    COSProperties set(7UL);
    for (const char* value : {"one", "two"}) {
        putValue(set, "Greeting", value);
        ASSERT_TRUE(set.save()) << Properties::error_name(set.getError()) << "\n" << daemonLog();
    }
    EXPECT_EQ(countOf(daemonLog(), "accepted 127.0.0.1:"), 1u) << daemonLog();
    // The kept connection dies with the daemon; the next save opens a new one.
    ASSERT_EQ(daemon.stop(), 0);
    String address = "127.0.0.1:" + std::to_string(port);
    ASSERT_TRUE(daemon.start(root_, kOwnerBox, 2, {"--listen", address, "--tls-dir", tlsDir}));
    putValue(set, "Greeting", "three");
    ASSERT_TRUE(set.save()) << Properties::error_name(set.getError()) << "\n" << daemonLog();
    EXPECT_EQ(streamOf(COSProperties(7UL)), streamOf(set));
}

TEST_F(VmpropdTls, OwnerAppliesTheCarriedBytesNeverTheNamedFile) {
    startDaemon();
    COSProperties scratch;
    putValue(scratch, "Greeting", "carried");
    TlsChannel channel(*contextOf(1), connectTo(port), 5000);
    ASSERT_EQ(channel.connect(kOwnerBox, 1), Io::ok) << channel.error();
    // Two updates on one connection: the path names nothing on the owner's host.
    for (int i = 0; i < 2; ++i) {
        String body = updateBody("/vm/tmp/on-the-sender-only"), stream = streamOf(scratch);
        MsgFrameHeader header{kMsgFrameMagic, kUpdate, kMsgRequestType,
                              static_cast<std::uint32_t>(body.size() + stream.size())};
        ASSERT_EQ(channel.send(header, {body, stream}), Io::ok) << channel.error();
        MsgFrameHeader replyHeader;
        String reply;
        ASSERT_EQ(channel.receive(&replyHeader, reply, 8192), Io::ok) << channel.error();
        ASSERT_EQ(reply.size(), 16u);
        EXPECT_EQ(reply.substr(0, 4), String(4, '\0')) << daemonLog();
    }
    EXPECT_EQ(streamOf(COSProperties(7UL)), streamOf(scratch));
}

TEST_F(VmpropdTls, PeersWithoutTheRightCertificateAreRefusedBeforeAnyRequest) {
    startDaemon();
    // Box 2's genuine certificate, but the hello claims box 1.
    TlsChannel impostor(*contextOf(2), connectTo(port), 5000);
    EXPECT_NE(impostor.connect(kOwnerBox, 1), Io::ok);

    // No certificate at all: the handshake itself is refused.
    SSL_CTX* bare = SSL_CTX_new(TLS_client_method());
    SSL_CTX_load_verify_locations(bare, (tlsDir + "/ca.pem").c_str(), nullptr);
    SSL* ssl = SSL_new(bare);
    int fd = connectTo(port);
    SSL_set_fd(ssl, fd);
    char byte = 0;
    bool handshake = SSL_connect(ssl) == 1;
    // TLS 1.3 tells a client that its certificate was refused on its first read.
    EXPECT_FALSE(handshake && SSL_write(ssl, "MSG1", 4) == 4 && SSL_read(ssl, &byte, 1) > 0);
    SSL_free(ssl);
    SSL_CTX_free(bare);
    ::close(fd);

    awaitText("/vm/log/trace.log", "peer did not return a certificate", 5000);
    String log = daemonLog();
    EXPECT_NE(log.find("the peer claims box 1 but its certificate has subject /CN=box2, DNS:box2"),
              String::npos)
        << log;
    EXPECT_NE(log.find("peer did not return a certificate"), String::npos) << log;
    EXPECT_EQ(log.find("dropped a request"), String::npos) << log;
}

// A box whose certificate the authority revoked is refused by every peer
// that has the revocation list, as server and as client; other boxes go on.
// A list the folder's authority did not sign, or no list, is refused naming
// the file.
TEST_F(VmpropdTls, RevokedBoxesAreRefusedAndABadRevocationListIsNamed) {
    ASSERT_EQ(certs(tlsDir, "--revoke 2"), 0);
    startDaemon();
    TlsChannel revoked(*contextOf(2), connectTo(port), 5000);
    EXPECT_NE(revoked.connect(kOwnerBox, 2), Io::ok);
    TlsChannel kept(*contextOf(1), connectTo(port), 5000);
    EXPECT_EQ(kept.connect(kOwnerBox, 1), Io::ok) << kept.error();
    COSProperties set(7UL);
    putValue(set, "Greeting", "one");
    ASSERT_TRUE(set.save()) << daemonLog();
    ASSERT_EQ(certs(tlsDir, "--revoke 333"), 0);
    // The save's kept connection was checked against the list of its time.
    putValue(set, "Greeting", "two");
    EXPECT_FALSE(set.save()) << "a kept connection outlived its peer's revocation";
    TlsChannel toRevoked(*contextOf(1), connectTo(port), 5000);
    EXPECT_NE(toRevoked.connect(kOwnerBox, 1), Io::ok);
    EXPECT_NE(toRevoked.error().find("certificate revoked"), String::npos) << toRevoked.error();
    EXPECT_TRUE(awaitText("/vm/log/trace.log", "certificate revoked", 5000)) << daemonLog();

    String foreign = hostPath("/foreign"), crl = tlsDir + "/crl.pem";
    ASSERT_EQ(certs(foreign, "5"), 0);
    ASSERT_EQ(certs(foreign, "--revoke 5"), 0);
    // Lists this authority signed, dated so that they cannot be used.
    writeFile("/ca.cnf", "[ ca ]\ndefault_ca = vm\n[ vm ]\ndatabase = " + tlsDir +
                             "/revoked.txt\ndefault_md = sha256\n");
    auto dated = [&](const char* since, const char* until) {
        return "openssl ca -config '" + hostPath("/ca.cnf") + "' -keyfile '" + tlsDir +
               "/ca.key' -cert '" + tlsDir + "/ca.pem' -gencrl -crl_lastupdate " + since +
               " -crl_nextupdate " + until + " -out '" + crl + "' 2>/dev/null";
    };
    const std::pair<String, const char*> lists[] = {
        {"cp '" + foreign + "/crl.pem' '" + crl + "'", "is not signed by the authority"},
        {"echo 'not a list' >'" + crl + "'", "holds no list"},
        {dated("20000101000000Z", "20000102000000Z"), "has expired"},
        {dated("20991231000000Z", "21000101000000Z"), "is not valid yet"},
    };
    for (const auto& [make, expected] : lists) {
        ASSERT_EQ(std::system(make.c_str()), 0) << make;
        String error;
        EXPECT_FALSE(TlsContext::load(tlsDir, 1, TlsContext::Side::client, error));
        EXPECT_NE(error.find("the revocation list " + crl + " " + expected), String::npos) << error;
    }
}

// SIGHUP reads the certificate folder again: a box revoked since it
// connected is cut off at once, a box still trusted saves again through a
// new connection, and a folder that gives no identity any more is refused
// while the daemon serves on with the certificates in use.
TEST_F(VmpropdTls, AHangUpReadsTheCertificatesAgainAndCutsOpenConnections) {
    startDaemon();
    COSProperties set(7UL);
    putValue(set, "Greeting", "one");
    ASSERT_TRUE(set.save()) << daemonLog();
    TlsChannel revoked(*contextOf(2), connectTo(port), 5000);
    ASSERT_EQ(revoked.connect(kOwnerBox, 2), Io::ok) << revoked.error();
    ASSERT_EQ(certs(tlsDir, "--revoke 2"), 0);
    ASSERT_EQ(::kill(daemon.pid(), SIGHUP), 0);
    ASSERT_TRUE(awaitText("/vm/log/trace.log", "closing 2 open connection(s)")) << daemonLog();

    // Box 2's open connection is closed at once, not at its next request.
    MsgFrameHeader header;
    String reply;
    EXPECT_EQ(revoked.receive(&header, reply, 8192), Io::closed) << revoked.error();
    putValue(set, "Greeting", "two");
    ASSERT_TRUE(set.save()) << daemonLog();
    EXPECT_EQ(countOf(daemonLog(), "accepted 127.0.0.1:"), 3u) << daemonLog();
    TlsChannel again(*contextOf(2), connectTo(port), 5000);
    EXPECT_NE(again.connect(kOwnerBox, 2), Io::ok);

    // This process shares the folder: its context is made before the break.
    std::unique_ptr<TlsContext> before = contextOf(1);
    writeFile("/VM/config/tls/crl.pem", "not a list\n");
    ASSERT_EQ(::kill(daemon.pid(), SIGHUP), 0);
    EXPECT_TRUE(awaitText("/vmpropd.out",
                          "vmpropd: SIGHUP: kept the certificates in use: the "
                          "revocation list " +
                              tlsDir + "/crl.pem holds no list"))
        << readFile("/vmpropd.out");
    TlsChannel still(*before, connectTo(port), 5000);
    EXPECT_EQ(still.connect(kOwnerBox, 1), Io::ok) << still.error();
}

TEST_F(VmpropdTls, ListeningWithoutTlsIsRefusedInWords) {
    String key = tlsDir + "/box333.key";
    ASSERT_EQ(::chmod(key.c_str(), 0640), 0);
    EXPECT_FALSE(
        daemon.start(root_, kOwnerBox, 2, {"--listen", "127.0.0.1:0", "--tls-dir", tlsDir}));
    EXPECT_EQ(daemon.stop(), 2);
    EXPECT_NE(readFile("/vmpropd.out")
                  .find("without TLS: the key " + key + " may be read by others (mode 0640)"),
              String::npos)
        << readFile("/vmpropd.out");
    EXPECT_FALSE(
        daemon.start(root_, kOwnerBox, 2, {"--listen", "127.0.0.1:0", "--tls-dir", root_}));
    EXPECT_EQ(daemon.stop(), 2);
    EXPECT_NE(readFile("/vmpropd.out").find("without TLS: cannot read " + root_ + "/ca.pem"),
              String::npos)
        << readFile("/vmpropd.out");
}

// A peer that takes connections and then says nothing, and one that answers
// the hellos but never the request: each send ends within its time limit.
TEST_F(VmpropdTls, SilentPeersFailWithinTheTimeLimitsInWords) {
    int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent, 1), 0);  // never accepted
    ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
    String error;
    auto context = TlsContext::load(tlsDir, 334, TlsContext::Side::server, error);
    ASSERT_TRUE(context) << error;
    TlsMsgServer mute(334, {"127.0.0.1", 0}, std::move(context), [](int, const String&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        return std::optional<String>(String(16, '\0'));
    });
    ASSERT_TRUE(mute.start(error)) << error;
    ::setenv("VM_MSG_CONNECT_MS", "300", 1);
    ::setenv("VM_MSG_REPLY_MS", "400", 1);
    writeFile("/VM/config/msg_routes", "333 127.0.0.1:" + std::to_string(ntohs(address.sin_port)) +
                                           "\n334 127.0.0.1:" + std::to_string(mute.port()) + "\n");
    struct Case {
        std::uint32_t box;
        std::uint32_t status;
        const char* words;
    };
    for (const Case& c : {Case{333, MSG_CONNECT_TIMED_OUT, "no TLS handshake within 300 ms"},
                          Case{334, MSG_TIMED_OUT, "no reply within 400 ms"}}) {
        OrvexMsgClient client(nullptr, 1114);
        ASSERT_TRUE(client.allocate());
        client.to()[1] = c.box;
        client.to()[2] = 1;
        client.length(16);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(client.access_with_reply(-1, 3).status, c.status) << c.box;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1200));
        EXPECT_TRUE(traces->contains(1, c.words)) << c.box;
    }
    ::close(silent);
}

TEST_F(VmpropdTls, CertificateFoldersThatCannotServeAreRefusedNamingTheFile) {
    String other = hostPath("/other");
    ASSERT_EQ(::mkdir(other.c_str(), 0700), 0);
    for (const char* file : {"ca.pem", "box2.pem", "box2.key"}) {
        String from = tlsDir + "/" + file, to = other + "/" + file;
        ASSERT_EQ(std::system(("cp -p '" + from + "' '" + to + "'").c_str()), 0);
    }
    // Box 2's files under box 1's names, then box 2's key with box 1's certificate.
    ::rename((other + "/box2.pem").c_str(), (other + "/box1.pem").c_str());
    ::rename((other + "/box2.key").c_str(), (other + "/box1.key").c_str());
    struct Case {
        String directory;
        std::uint16_t box;
        String expected;
    } cases[] = {
        {hostPath("/nowhere"), 1, "cannot read " + hostPath("/nowhere") + "/ca.pem"},
        {tlsDir, 9, "cannot read " + tlsDir + "/box9.pem"},
        {other, 1, "the certificate " + other + "/box1.pem does not name box1"},
    };
    for (const Case& c : cases) {
        String error;
        EXPECT_FALSE(TlsContext::load(c.directory, c.box, TlsContext::Side::client, error));
        EXPECT_NE(error.find(c.expected), String::npos) << error;
    }
    ASSERT_EQ(std::system(("cp -p '" + tlsDir + "/box1.pem' '" + other + "/box1.pem'").c_str()), 0);
    String error;
    EXPECT_FALSE(TlsContext::load(other, 1, TlsContext::Side::server, error));
    EXPECT_NE(error.find("cannot use the key " + other + "/box1.key with"), String::npos) << error;
}

TEST_F(VmpropdTls, AHandOffOverTheSizeLimitIsNotSent) {
    writeFile("/VM/config/msg_routes", "333 127.0.0.1:9\n");
    writeFile("/vm/tmp/huge", "");
    ASSERT_EQ(::truncate(hostPath("/vm/tmp/huge").c_str(), (off_t{64} << 20) + 1), 0);
    OrvexMsgClient client(nullptr, 1114);
    ASSERT_TRUE(client.allocate());
    client.opcode(kUpdate);
    client.to()[1] = kOwnerBox;
    String body = updateBody("/vm/tmp/huge");
    std::memcpy(client.body(), body.data(), body.size());
    client.length(static_cast<int>(body.size()));
    const MCStatus& status = client.access_with_reply(-1, 3);
    EXPECT_EQ(status.status, MSG_IO_ERROR);
    EXPECT_EQ(status.sysErrno, static_cast<std::uint32_t>(EFBIG));
    EXPECT_TRUE(traces->contains(1, "cannot read the hand-off file to send: File too large"));
}

TEST_F(VmpropdTls, AMalformedRoutesFileFailsTheSendNamingTheLine) {
    writeFile("/VM/config/msg_routes", "# owner\n333 127.0.0.1\n");
    OrvexMsgClient client(nullptr, 1114);
    ASSERT_TRUE(client.allocate());
    client.to()[1] = kOwnerBox;
    EXPECT_EQ(client.access_with_reply(-1, 3).status, MSG_BAD_ROUTE);
    EXPECT_TRUE(traces->contains(
        1, hostPath("/VM/config/msg_routes") + ":2: '127.0.0.1' is not HOST:PORT"));
}

}  // namespace
