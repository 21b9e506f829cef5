// The send block, the error texts and the resolvers.
#include <gtest/gtest.h>

#include "platform/net.h"
#include "socket/Resolve.h"
#include "socket/SocketErrors.h"
#include "socket/SocketLibrary.h"
#include "socket/USockBuf.h"
#include "socket/USocket.h"
#include "support/raised.h"

namespace telorus::socket {
namespace {

TEST(TBufferTest, CapacityDefaultsWhenNotPositive) {
  EXPECT_EQ(TBuffer(0).Capacity(), 1514);
  EXPECT_EQ(TBuffer(-5).Capacity(), 1514);
  EXPECT_EQ(TBuffer(10).Capacity(), 10);
}

TEST(TBufferTest, WriteCopiesOnlyTheRoomAndPeekRemoveWalkTheUnsentBytes) {
  TBuffer b(8);
  EXPECT_EQ(b.Write("0123456789", 10), 8);
  EXPECT_EQ(b.Write("x", 1), 0) << "full";
  std::int32_t len = 0;
  const std::uint8_t* p = b.Peek(&len);
  ASSERT_EQ(len, 8);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), 8), "01234567");

  EXPECT_EQ(b.Remove(3), 3);
  p = b.Peek(&len);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(len)), "34567");
  EXPECT_EQ(b.Write("y", 1), 0) << "space before ReadPos is not reused while bytes are unsent";

  EXPECT_EQ(b.Remove(100), 5) << "removes at most what is unsent";
  EXPECT_EQ(b.ReadPos(), 0);
  EXPECT_EQ(b.WritePos(), 0);
  EXPECT_EQ(b.Peek(&len), nullptr);
  EXPECT_EQ(len, 0);
  EXPECT_EQ(b.Remove(1), 0);
  EXPECT_EQ(b.Write("abc", 3), 3);
  p = b.Peek(&len);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(len)), "abc")
      << "a drained block is written from its start again";
}

TEST(SocketErrorTextTest, KnownAndUnknownCodes) {
  EXPECT_EQ(SocketErrorText(0), "No Error");
  EXPECT_EQ(SocketErrorText(10061), "Connection refused");
  EXPECT_EQ(SocketErrorText(10054), "Connection reset by peer");
  EXPECT_EQ(SocketErrorText(10035), "Operation would block");
  EXPECT_EQ(SocketErrorText(10093), "WinSock not initialized");
  EXPECT_EQ(SocketErrorText(11001), "Host not found");
  EXPECT_EQ(SocketErrorText(11004), "No Data");
  EXPECT_EQ(SocketErrorText(10072), "Not a WinSock error");
  EXPECT_EQ(SocketErrorText(12345), "Not a WinSock error");
  EXPECT_EQ(SocketErrorMessage(10061, "Connect"), "Error 10061 in function Connect\r\nConnection refused");
}

TEST(ResolveTest, IsDottedAddressAcceptsOnlyFourGroupsUpTo255) {
  for (const char* yes : {"10.0.0.1", "  10.0.0.1", "10.0.0.1  ", "255.255.255.255", "0.0.0.0"})
    EXPECT_TRUE(IsDottedAddress(yes)) << yes;
  for (const char* no : {"10.0.0", "10..0.1", "10.0.0.256", "1.2.3.4.5", "a.b.c.d", ".1.2.3", "1.2.3.", "300.1.1.1",
                         "1.2.3.4x", "1.2.3.4 x", "", "99999999999999999999.1.1.1"})
    EXPECT_FALSE(IsDottedAddress(no)) << no;
}

TEST(ResolveTest, ParseLeadingNumber) {
  EXPECT_EQ(ParseLeadingNumber("5900abc"), 5900u);
  EXPECT_EQ(ParseLeadingNumber("  42"), 42u);
  EXPECT_EQ(ParseLeadingNumber("x1"), 0u);
  EXPECT_EQ(ParseLeadingNumber(""), 0u);
}

TEST(ResolveTest, PortsNumbersServicesAndErrors) {
  EXPECT_EQ(ResolvePort("80", "tcp"), 80);
  EXPECT_EQ(ResolvePort("5900abc", "tcp"), 5900);
  EXPECT_EQ(ResolvePort("70000", "tcp"), 70000 & 0xFFFF);
  EXPECT_EQ(ResolvePort("http", "tcp"), 80) << "from the services table";
  EXPECT_EQ(ResolvePort(" ssh ", " tcp "), 22);
  auto message = test::RaisedMessage;
  EXPECT_EQ(message([] { ResolvePort("", "tcp"); }), "USocketResolvePort: Invalid Port.");
  EXPECT_EQ(message([] { ResolvePort(std::string(32, '1'), "tcp"); }), "USocketResolvePort: Invalid Port.");
  EXPECT_EQ(message([] { ResolvePort("80", ""); }), "USocketResolvePort: Invalid Proto.");
  EXPECT_EQ(message([] {
              ResolvePort("nosuchservice", "tcp");
            }).rfind("USocketResolvePort: Cannot convert port 'nosuchservice', Error #", 0),
            0u);
  EXPECT_EQ(ResolveProto("tcp"), 6);
  EXPECT_EQ(ResolveProto("udp"), 17);
  EXPECT_EQ(ResolveProto(" 17 "), 17);
  EXPECT_EQ(message([] { ResolveProto(""); }), "USocketResolveProto: Invalid Protocol.");
  EXPECT_EQ(
      message([] { ResolveProto("bogus"); }).rfind("USocketResolveProto: Cannot convert protocol 'bogus', Error #", 0),
      0u);
}

TEST(ResolveTest, HostsDottedNamedAndRefused) {
  EXPECT_EQ(platform::net::InetNtoa(ResolveHost(" 127.0.0.1 ")), "127.0.0.1");
  EXPECT_EQ(ResolveHost("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_EQ(platform::net::InetNtoa(ResolveHost("localhost")), "127.0.0.1");

  std::string longName(257, 'a');
  try {
    ResolveHost(longName);
    FAIL() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_EQ(std::string(e.what()), "USocketResolveHost: '" + longName + "' Invalid Hostname.");
  }
  // 300.1.1.1 is not dotted: it goes to the name resolver, which knows nothing.
  std::string asked;
  platform::net::SetHostResolverForTesting([&](const std::string& name, bool, platform::net::HostEntry*) {
    asked = name;
    return platform::net::kWsaHostNotFound;
  });
  try {
    ResolveHost("300.1.1.1");
    FAIL() << "no exception";
  } catch (const ESocketException& e) {
    EXPECT_EQ(std::string(e.what()), "USocketResolveHost: Cannot convert host address '300.1.1.1', Error #11001");
  }
  platform::net::SetHostResolverForTesting(nullptr);
  EXPECT_EQ(asked, "300.1.1.1");
}

TEST(SocketLibraryTest, LoadedOnFirstUseAndReleasedWithTheLastSocket) {
  UnloadSocketLibrary();
  {
    TUSocket a;
    EXPECT_FALSE(SocketLibraryLoaded()) << "construction alone does not load";
    EXPECT_EQ(SocketInstanceCount(), 1);
    {
      TUSocket b;
      EXPECT_EQ(SocketInstanceCount(), 2);
      b.DnsLookup("127.0.0.1");
      EXPECT_TRUE(SocketLibraryLoaded());
    }
    EXPECT_TRUE(SocketLibraryLoaded()) << "one socket is still alive";
  }
  EXPECT_FALSE(SocketLibraryLoaded());
  EXPECT_EQ(SocketInstanceCount(), 0);
  TUSocket again;
  std::uint16_t done = 1;
  again.OnDnsLookupDone = [&](TObject*, std::uint16_t e) { done = e; };
  again.DnsLookup("10.1.2.3");
  EXPECT_EQ(done, 0) << "a socket created afterwards works again";
  EXPECT_EQ(again.DnsResult(), "10.1.2.3");
}

TEST(SocketLibraryTest, ALibraryThatCannotBeLoadedOrBoundIsReported) {
#ifndef _WIN32
  GTEST_SKIP() << "the socket calls are linked in here: no library is loaded at run time";
#else
  UnloadSocketLibrary();
  auto messageOfALookup = [] {
    TUSocket s;
    int errors = 0;
    s.OnError = [&](TObject*) { ++errors; };
    try {
      s.DnsLookup("127.0.0.1");
    } catch (const ESocketException& e) {
      EXPECT_EQ(errors, 0) << "the binding's failures do not go through OnError";
      return std::string(e.what());
    }
    return std::string("no exception");
  };
  platform::net::SetSocketLibraryNameForTesting("telorus-no-such-library.dll");
  EXPECT_EQ(messageOfALookup(), "Unable to load telorus-no-such-library.dll Error #126");
  EXPECT_EQ(messageOfALookup(), "Unable to load telorus-no-such-library.dll Error #126") << "the load is tried again";
  // A library without the socket calls: the first entry point it is asked for.
  platform::net::SetSocketLibraryNameForTesting("kernel32.dll");
  EXPECT_EQ(messageOfALookup(), "Procedure WSAStartup not found in kernel32.dll Error #127");
  platform::net::SetSocketLibraryNameForTesting("");
  TUSocket working;
  std::uint16_t done = 1;
  working.OnDnsLookupDone = [&](TObject*, std::uint16_t e) { done = e; };
  working.DnsLookup("10.1.2.3");
  EXPECT_EQ(done, 0) << "wsock32.dll binds again";
#endif
}

}  // namespace
}  // namespace telorus::socket
