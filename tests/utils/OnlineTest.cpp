// The online test. The system's rule ("the last address of the
// host name is not 127.0.0.1") does not carry over: Debian maps the host name
// to 127.0.1.1, and the order of addresses says nothing. Here a routable
// address on an interface that is up means online. Also the system version.
#include <sched.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "kelvora/kvUtils.h"
#include "platform/Network.h"

using namespace kelvora;
using platform::HasRoutableAddress;
using platform::IsRoutableAddress;
using platform::TLocalAddress;

TEST(IsRoutableAddress, LoopbackLinkLocalAndUnspecifiedAreNot) {
  for (const char* a : {"127.0.0.1", "127.0.1.1", "127.255.255.254", "0.0.0.0", "169.254.10.1", "224.0.0.1",
                        "255.255.255.255", "::1", "::", "fe80::1", "ff02::1", "::ffff:127.0.0.1", "not an address", ""})
    EXPECT_FALSE(IsRoutableAddress(a)) << a;
  for (const char* a : {"192.0.2.2", "10.1.2.3", "192.168.1.20", "172.16.0.5", "8.8.8.8", "100.64.0.1", "fd00::2",
                        "2001:db8::1", "::ffff:192.0.2.7"})
    EXPECT_TRUE(IsRoutableAddress(a)) << a;
}

TEST(HasRoutableAddress, TheOrderOfAddressesDoesNotMatter) {
  // The literal port would answer False here: the last address is 127.0.0.1.
  EXPECT_TRUE(HasRoutableAddress({{"eth0", "192.0.2.2", true, false}, {"lo", "127.0.0.1", true, true}}));
  EXPECT_TRUE(HasRoutableAddress({{"lo", "127.0.0.1", true, true}, {"eth0", "192.0.2.2", true, false}}));
}

TEST(HasRoutableAddress, DebiansHostNameAddressIsNotOnline) {
  // The literal port would answer True here: 127.0.1.1 is not "127.0.0.1".
  EXPECT_FALSE(HasRoutableAddress({{"lo", "127.0.1.1", true, true}}));
  EXPECT_FALSE(HasRoutableAddress({{"lo", "127.0.0.1", true, true}, {"lo", "127.0.1.1", true, true}}));
}

TEST(HasRoutableAddress, InterfacesThatAreDownOrLoopbackDoNotCount) {
  EXPECT_FALSE(HasRoutableAddress({}));
  EXPECT_FALSE(HasRoutableAddress({{"eth0", "192.0.2.2", false, false}}));
  EXPECT_FALSE(HasRoutableAddress({{"lo", "192.0.2.9", true, true}}));
  EXPECT_FALSE(HasRoutableAddress({{"eth0", "fe80::fc:ff:fe00:1", true, false}}));
  EXPECT_TRUE(HasRoutableAddress({{"eth0", "fe80::fc:ff:fe00:1", true, false}, {"eth0", "fd00::2", true, false}}));
}

TEST(IsOnline, IsHasLocalAddress) { EXPECT_EQ(IsOnline(), HasLocalAddress()); }

TEST(HasLocalAddress, AgreesWithTheMachinesInterfaces) {
  EXPECT_EQ(HasLocalAddress(), HasRoutableAddress(platform::LocalAddresses()));
  for (const auto& a : platform::LocalAddresses()) {
    EXPECT_FALSE(a.Interface.empty());
    EXPECT_FALSE(a.Text.empty());
  }
}

namespace {

// Runs Body in a child process inside a network namespace of its own (only a
// loopback interface, down). Returns the child's exit code, or -1 when the
// namespace cannot be made here.
int InOwnNetwork(int (*Body)()) {
  pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (::unshare(CLONE_NEWNET) != 0) ::_exit(99);
    ::_exit(Body());
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -2;
  return WEXITSTATUS(status) == 99 ? -1 : WEXITSTATUS(status);
}

bool HaveIp() { return std::system("ip -V >/dev/null 2>&1") == 0; }

int Quiet(const char* Cmd) { return std::system((std::string(Cmd) + " >/dev/null 2>&1").c_str()); }

}  // namespace

TEST(HasLocalAddress, OnlyLoopbackMeansOffline) {
  if (!HaveIp()) GTEST_SKIP() << "no ip command (iproute2)";
  const int rc = InOwnNetwork(+[] {
    if (HasLocalAddress() || IsOnline()) return 1;  // nothing at all
    if (Quiet("ip link set lo up") != 0) return 98;
    if (HasLocalAddress()) return 2;  // 127.0.0.1 and ::1
    if (Quiet("ip addr add 127.0.1.1/8 dev lo") != 0) return 98;
    if (HasLocalAddress()) return 3;  // Debian's host name address
    return 0;
  });
  if (rc == -1 || rc == 98) GTEST_SKIP() << "cannot make a network namespace here";
  EXPECT_EQ(rc, 0);
}

TEST(HasLocalAddress, ARoutableAddressMeansOnline) {
  if (!HaveIp()) GTEST_SKIP() << "no ip command (iproute2)";
  const int rc = InOwnNetwork(+[] {
    if (Quiet("ip link set lo up") != 0) return 98;
    if (Quiet("ip link add kv0 type veth peer name kv1") != 0) return 98;
    if (Quiet("ip addr add 198.51.100.7/24 dev kv0") != 0) return 98;
    if (HasLocalAddress()) return 1;  // configured, but the link is down
    if (Quiet("ip link set kv0 up") != 0 || Quiet("ip link set kv1 up") != 0) return 98;
    for (int i = 0; i < 100 && !HasLocalAddress(); ++i) ::usleep(10000);
    if (!HasLocalAddress() || !IsOnline()) return 2;
    // The last address the system lists may well be 127.0.0.1: no matter.
    if (Quiet("ip addr add 127.0.0.1/8 dev kv1") != 0) return 98;
    if (!HasLocalAddress()) return 3;
    return 0;
  });
  if (rc == -1 || rc == 98) GTEST_SKIP() << "cannot make a network namespace with a veth pair here";
  EXPECT_EQ(rc, 0);
}

TEST(SystemHelpers, IsVersion6OrLaterFollowsTheKernel) {
  struct utsname u {};
  ASSERT_EQ(::uname(&u), 0);
  EXPECT_EQ(IsVersion6OrLater(), std::atoi(u.release) > 5);
}
