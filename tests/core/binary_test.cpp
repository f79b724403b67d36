// The binary form: layout and size, the three writers, decoding faults, and files (reading,
// replacement that never loses the old file, waiting and interruption).
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "golden.hpp"
#include "graph/serialization.hpp"
#include "serialization/bincode.hpp"
#include "serialization/file_io.hpp"
#include "serialization/json_reader.hpp"
#include "serialization/json_writer.hpp"
#include "test_support.hpp"

namespace torvex {
namespace {

namespace fs = std::filesystem;

// Payloads kept as compact JSON text; "" is no payload.
using TextDag = DAG<std::string>;

const PayloadWriter<std::string> kWriteText = [](const std::string& p) -> std::optional<JsonValue> {
  if (p.empty())
    return std::nullopt;
  return *parse_json_value(p);
};
const PayloadReader<std::string> kReadText = [](const JsonValue& v) {
  return std::optional<std::string>(to_compact_json(v));
};

const char* kTruncated = "Bincode read error: io error: failed to fill whole buffer";

std::span<const std::uint8_t> bytes_of(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Hand-made input, field by field.
struct Bytes {
  std::string out;
  Bytes& u64(std::uint64_t v) {
    out.append(reinterpret_cast<const char*>(&v), 8);
    return *this;
  }
  Bytes& text(std::string_view s) {
    u64(s.size());
    out += s;
    return *this;
  }
  Bytes& tag(char t) {
    out += t;
    return *this;
  }
  Bytes& f64(double v) { return u64(std::bit_cast<std::uint64_t>(v)); }
};

testing::ReadDag<std::string> from_bytes(const std::string& data,
                                         const PayloadReader<std::string>& hook = {}) {
  return testing::read_new<std::string>(
      [&](TextDag& d) { return from_bincode_into(bytes_of(data), d, hook); });
}

testing::ReadDag<std::string> load(const std::string& path,
                                   const PayloadReader<std::string>& hook = {},
                                   const FileAccess& access = {}) {
  return testing::read_new<std::string>(
      [&](TextDag& d) { return from_bincode_file_into(path, d, hook, access); });
}

TorvexError read_fault(const std::string& data) {
  auto dag = from_bytes(data, kReadText);
  return dag.ok() ? TorvexError::graph("(read)") : dag.error();
}

// A graph with everything the form carries: reused slots, parallel edges, empty and non-ASCII
// texts, payloads, and weights whose bits must survive.
void fill_rich_graph(TextDag& dag) {
  ASSERT_TRUE(dag.add_node("gone", "").ok());
  ASSERT_TRUE(dag.add_node("", R"({"k":[1,-2,2.5,"\u0001"]})").ok());
  ASSERT_TRUE(dag.add_node("\xc3\xa9t\xc3\xa9", "null").ok());
  ASSERT_TRUE(dag.remove_node("gone").ok());
  ASSERT_TRUE(dag.add_node("z", "").ok());
  const double weights[] = {std::bit_cast<double>(0x7ff8000000000123ull),
                            -std::numeric_limits<double>::quiet_NaN(),
                            INFINITY,
                            -INFINITY,
                            -0.0,
                            5e-324};
  for (double w : weights)
    ASSERT_TRUE(dag.add_edge("z", "", w, std::nullopt).ok());
  ASSERT_TRUE(dag.add_edge("", "\xc3\xa9t\xc3\xa9", 1.0, "").ok());
  ASSERT_TRUE(dag.add_edge("z", "\xc3\xa9t\xc3\xa9", 2.0, "label").ok());
}

TEST(Binary, EmptyGraphAndTwoNodesWithOneEdge) {
  TextDag dag;
  EXPECT_EQ(bincode_size(dag), 16u);
  EXPECT_EQ(to_bincode(dag), std::string(16, '\0'));
  auto empty = from_bytes(std::string(16, '\0'));
  ASSERT_TRUE(empty.ok() && (*empty)->node_count() == 0u);

  ASSERT_TRUE(dag.add_node("a", R"("ignored without a hook")").ok());
  ASSERT_TRUE(dag.add_node("b", "").ok());
  ASSERT_TRUE(dag.add_edge("a", "b", std::nullopt, std::nullopt).ok());
  const std::string expected = testing::read_golden_hex("two_nodes_one_edge.hex");
  ASSERT_EQ(expected.size(), 63u);
  EXPECT_EQ(bincode_size(dag), 63u);
  EXPECT_EQ(to_bincode(dag), expected);

  std::string buffer(63, '\0');
  ASSERT_TRUE(to_bincode_writer(dag, buffer).ok());
  EXPECT_EQ(buffer, expected);
  std::string short_buffer(62, '\0');
  auto status = to_bincode_writer(dag, short_buffer);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error(),
            TorvexError::graph("Bincode write error: io error: failed to write whole buffer"));
}

TEST(Binary, RoundTripKeepsSlotOrderTextsPayloadsAndWeightBits) {
  TextDag dag;
  fill_rich_graph(dag);
  const std::string data = to_bincode(dag, kWriteText).value();
  // Two payload texts, each a length and its bytes.
  EXPECT_EQ(data.size(), bincode_size(dag) + 8 + dag.payload(1).size() + 8 + 4);

  auto back = from_bytes(data, kReadText);
  ASSERT_TRUE(back.ok()) << back.error().text();
  const TextDag& copy = **back;
  EXPECT_EQ(testing::names(copy, copy.nodes()), testing::names(dag, dag.nodes()));
  EXPECT_EQ(copy.nodes(), (IndexList{0, 1, 2}));
  EXPECT_EQ(copy.generation(), 3u + 8u);
  EXPECT_EQ(copy.payload(2), "null") << "a null payload reaches the reader hook";
  EXPECT_EQ(to_bincode(copy, kWriteText).value(), data);
  for (EdgeIndex e = 0; e < 6; ++e) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(copy.graph().edge_weight(e)),
              std::bit_cast<std::uint64_t>(dag.graph().edge_weight(e)));
  }

  // Without a reader hook every payload is absent; trailing bytes change nothing.
  auto plain = from_bytes(data + "trailing");
  ASSERT_TRUE(plain.ok());
  EXPECT_EQ((*plain)->payload(0), "");
  EXPECT_EQ(to_bincode(**plain), to_bincode(dag));
}

TEST(Binary, PayloadTextThatIsNoJsonValueLeavesTheNodeWithout) {
  const std::string deep = std::string(128, '[') + std::string(128, ']');
  for (const std::string& text : {std::string("{oops"), std::string("1 2"), deep}) {
    int calls = 0;
    const std::string data = Bytes().u64(1).text("a").tag(1).text(text).u64(0).out;
    auto dag = from_bytes(data, [&](const JsonValue&) {
      ++calls;
      return std::optional<std::string>("x");
    });
    ASSERT_TRUE(dag.ok()) << text;
    EXPECT_EQ((*dag)->payload(0), "");
    EXPECT_EQ(calls, 0);
  }
}

TEST(Binary, PayloadTooDeepForTheReaderIsRefusedNamingTheNode) {
  // Payloads are nesting depths; no hook is called after the node refused.
  int calls = 0;
  const PayloadWriter<std::string> depth_of = [&](const std::string& p) {
    ++calls;
    JsonValue value{JsonValue::Array{}};
    for (int i = 1; i < std::stoi(p); ++i)
      value = JsonValue(JsonValue::Array{std::move(value)});
    return std::optional<JsonValue>(std::move(value));
  };
  TextDag dag;
  ASSERT_TRUE(dag.add_node("a", std::to_string(kJsonMaxDepth)).ok());
  ASSERT_TRUE(dag.add_node("b", "1").ok());
  ASSERT_TRUE(to_bincode(dag, depth_of).ok());
  dag.payload(0) = std::to_string(kJsonMaxDepth + 1);
  EXPECT_EQ(to_bincode(dag, depth_of).error(),
            TorvexError::graph("Bincode write error: payload of node a is nested more than 127 "
                               "levels deep, which the reader refuses"));
  EXPECT_EQ(calls, 3);
}

TEST(Binary, EveryTruncatedPrefixFailsWithTheTruncationError) {
  TextDag dag;
  fill_rich_graph(dag);
  const std::string data = to_bincode(dag, kWriteText).value();
  for (std::size_t n = 0; n < data.size(); ++n) {
    EXPECT_EQ(read_fault(data.substr(0, n)), TorvexError::graph(kTruncated)) << n;
  }
}

TEST(Binary, RefusesBadTagsHugeLengthsAndInvalidUtf8) {
  EXPECT_EQ(read_fault(Bytes().u64(1).text("a").tag(2).out),
            TorvexError::graph("Bincode read error: tag for enum is not valid, found 2"));
  // Lengths and counts far beyond the input are found out before anything is reserved.
  EXPECT_EQ(read_fault(Bytes().u64(1).u64(std::uint64_t{1} << 63).text("abc").out),
            TorvexError::graph(kTruncated));
  EXPECT_EQ(read_fault(Bytes().u64(~std::uint64_t{0}).text("a").tag(0).out),
            TorvexError::graph(kTruncated));
  // The start an unfinished in-place save leaves refuses whatever follows it, at once.
  const std::string unreadable(kBincodeUnreadableStart.begin(), kBincodeUnreadableStart.end());
  EXPECT_EQ(read_fault(unreadable + Bytes().text("a").tag(0).u64(0).out),
            TorvexError::graph(kTruncated));
  EXPECT_EQ(read_fault(unreadable + std::string(100000, '\0')), TorvexError::graph(kTruncated));
  EXPECT_EQ(read_fault(Bytes().u64(1).text("a\xff").out),
            TorvexError::graph("Bincode read error: string is not valid utf8: "
                               "invalid utf-8 sequence of 1 bytes from index 1"));

  const std::pair<const char*, const char*> utf8_cases[] = {
      {"\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xc0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"ab\xe2\x82", "incomplete utf-8 byte sequence from index 2"},
      {"\xe2\x82x", "invalid utf-8 sequence of 2 bytes from index 0"},
      {"\xed\xa0\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"\xf0\x9f\x98x", "invalid utf-8 sequence of 3 bytes from index 0"},
      {"\xf4\x90\x80\x80", "invalid utf-8 sequence of 1 bytes from index 0"},
      {"ok \xf0\x9f\x98", "incomplete utf-8 byte sequence from index 3"},
  };
  for (auto [text, message] : utf8_cases)
    EXPECT_EQ(utf8_error(text), message) << text;
  EXPECT_EQ(utf8_error("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"), std::nullopt);
}

TEST(Binary, GraphFaultsKeepTheirOwnKinds) {
  const std::string two_a = Bytes().u64(2).text("a").tag(0).text("a").tag(0).u64(0).out;
  EXPECT_EQ(read_fault(two_a), TorvexError::duplicate_node("a"));
  const std::string dangling =
      Bytes().u64(1).text("a").tag(0).u64(1).text("a").text("b").f64(1).tag(0).out;
  EXPECT_EQ(read_fault(dangling), TorvexError::node_not_found("b"));
  const std::string loop =
      Bytes().u64(1).text("a").tag(0).u64(1).text("a").text("a").f64(1).tag(0).out;
  EXPECT_EQ(read_fault(loop), TorvexError::cycle("Edge a -> a would create a cycle: a"));
}

// --- files ------------------------------------------------------------------------------------

class BinaryFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/torvex-binary-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ASSERT_TRUE(dag_.add_node("a", R"([1])").ok());
    ASSERT_TRUE(dag_.add_node("b", "").ok());
    ASSERT_TRUE(dag_.add_edge("a", "b", 0.5, "x").ok());
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const char* name) const { return (dir_ / name).string(); }
  static std::string contents(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void put(const std::string& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
  }
  std::vector<std::string> entries() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_))
      out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
  }
  static std::string load_fault(const std::string& p) {
    auto dag = load(p);
    return dag.ok() ? "(loaded)" : dag.error().text();
  }
  std::string save_fault(const std::string& p) const {
    auto status = to_bincode_file(dag_, p);
    return status.ok() ? "(saved)" : status.error().text();
  }
  // Permissions bind only users other than root: as root, `checks` runs in a child process that
  // gives its rights away first. Inside, failures print and make `checks` false.
  void without_root(const std::function<bool()>& checks) {
    if (::geteuid() != 0) {
      EXPECT_TRUE(checks());
      return;
    }
    ASSERT_EQ(::chmod(dir_.c_str(), 0777), 0);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0)
      ::_exit(::setgid(65534) == 0 && ::setuid(65534) == 0 && checks() ? 0 : 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  static bool is(const std::string& got, const std::string& want) {
    if (got != want)
      std::fprintf(stderr, "got:  %s\nwant: %s\n", got.c_str(), want.c_str());
    return got == want;
  }

  fs::path dir_;
  TextDag dag_;
};

TEST_F(BinaryFile, SaveAndLoadRoundTripWithPayloads) {
  const std::string p = path("g.bin");
  ASSERT_TRUE(to_bincode_file(dag_, p, kWriteText).ok());
  EXPECT_EQ(contents(p), to_bincode(dag_, kWriteText).value());
  auto back = load(p, kReadText);
  ASSERT_TRUE(back.ok()) << back.error().text();
  EXPECT_EQ((*back)->payload(0), "[1]");
  EXPECT_EQ(to_bincode(**back, kWriteText).value(), contents(p));

  // Larger than the write buffer, and saved without payloads.
  TextDag big;
  for (int i = 0; i < 3000; ++i)
    ASSERT_TRUE(big.add_node("node" + std::to_string(i), "").ok());
  ASSERT_TRUE(to_bincode_file(big, p).ok());
  EXPECT_EQ(contents(p), to_bincode(big));
  EXPECT_EQ(entries(), std::vector<std::string>{"g.bin"});
}

TEST_F(BinaryFile, ReaderHookMayShrinkTheFileItReads) {
  // What was read stays as it was read, whatever happens to the file.
  TextDag big;
  for (int i = 0; i < 3000; ++i)
    ASSERT_TRUE(big.add_node("node" + std::to_string(i), "[" + std::to_string(i) + "]").ok());
  const std::string p = path("g.bin");
  ASSERT_TRUE(to_bincode_file(big, p, kWriteText).ok());
  auto back = load(p, [&](const JsonValue& v) {
    if (fs::file_size(p) > 0)
      fs::resize_file(p, 0);
    return std::optional<std::string>(to_compact_json(v));
  });
  ASSERT_TRUE(back.ok()) << back.error().text();
  EXPECT_EQ(to_bincode(**back, kWriteText).value(), to_bincode(big, kWriteText).value());
}

TEST_F(BinaryFile, LoadReportsOpenMapAndDecodeFaults) {
  EXPECT_EQ(load_fault(path("missing")),
            "Failed to open file " + path("missing") + ": No such file or directory (os error 2)");
  put(path("empty"), "");
  EXPECT_EQ(load_fault(path("empty")), kTruncated);
  EXPECT_EQ(load_fault(dir_.string()).rfind("Failed to mmap file " + dir_.string() + ": ", 0), 0u);
  EXPECT_EQ(load_fault(std::string("a\0b", 3)).rfind("Failed to open file a", 0), 0u);
  EXPECT_EQ(load_fault("/dev/null"), kTruncated);
}

TEST_F(BinaryFile, SaveReportsCreateAndWriteFaults) {
  const std::string nowhere = path("no/such/dir/g.bin");
  EXPECT_EQ(save_fault(nowhere),
            "Failed to create file " + nowhere + ": No such file or directory (os error 2)");
  EXPECT_EQ(save_fault(dir_.string()),
            "Failed to create file " + dir_.string() + ": Is a directory (os error 21)");
  EXPECT_EQ(save_fault("/dev/full"),
            "Bincode write error: io error: No space left on device (os error 28)");
  EXPECT_EQ(save_fault("/dev/null"), "(saved)");
  put(path("plain"), "old");
  EXPECT_EQ(save_fault(path("plain/g.bin")),
            "Failed to create file " + path("plain/g.bin") + ": Not a directory (os error 20)");
  struct stat st {};
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode)) << "devices are written in place, never replaced";
  EXPECT_EQ(entries(), std::vector<std::string>{"plain"});
}

// A file that may not be read or replaced is reported and left as it was; a directory that
// takes no new file refuses a new one, and an existing writable file there is rewritten in
// place.
TEST_F(BinaryFile, PermissionsAreReportedAndOldFilesKept) {
  put(path("secret"), to_bincode(dag_));
  put(path("locked"), "old");
  fs::create_directory(dir_ / "closed");
  put(path("closed/open"), "old");
  ASSERT_EQ(::chmod(path("secret").c_str(), 0200) | ::chmod(path("locked").c_str(), 0444) |
                ::chmod(path("closed/open").c_str(), 0666) | ::chmod(path("closed").c_str(), 0555),
            0);
  const std::string denied = ": Permission denied (os error 13)";
  without_root([&] {
    return is(load_fault(path("secret")), "Failed to open file " + path("secret") + denied) &
           is(save_fault(path("locked")), "Failed to create file " + path("locked") + denied) &
           is(contents(path("locked")), "old") &
           is(save_fault(path("closed/new.bin")),
              "Failed to create file " + path("closed/new.bin") + denied) &
           is(save_fault(path("closed/open")), "(saved)") &
           is(contents(path("closed/open")), to_bincode(dag_));
  });
  EXPECT_EQ(contents(path("closed/open")), to_bincode(dag_));
  EXPECT_EQ(entries(), (std::vector<std::string>{"closed", "locked", "secret"}));
  ASSERT_EQ(::chmod(path("closed").c_str(), 0755), 0);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "closed"), {}), 1);
}

TEST_F(BinaryFile, FailedSaveLeavesTheOldFileAndNoStrayFile) {
  const std::string p = path("g.bin");
  ASSERT_TRUE(to_bincode_file(dag_, p).ok());
  const std::string old = contents(p);

  // A file size limit makes the write fail midway, as a full disk would.
  TextDag big;
  for (int i = 0; i < 2000; ++i)
    ASSERT_TRUE(big.add_node("node" + std::to_string(i), "").ok());
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto previous = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 10000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  auto status = to_bincode_file(big, p);
  // A file with two names is rewritten in place; the limit is found out before it is touched.
  ASSERT_EQ(::link(p.c_str(), path("twin").c_str()), 0);
  auto in_place = to_bincode_file(big, p);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, previous);
  const std::string too_large = "Bincode write error: io error: File too large (os error 27)";
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().text(), too_large);
  ASSERT_FALSE(in_place.ok());
  EXPECT_EQ(in_place.error().text(), too_large);
  EXPECT_EQ(contents(p), old);
  ASSERT_EQ(::unlink(path("twin").c_str()), 0);
  EXPECT_EQ(entries(), std::vector<std::string>{"g.bin"});

  // A hook that runs out of memory midway: the exception passes, the old file stays.
  int calls = 0;
  PayloadWriter<std::string> failing = [&](const std::string&) -> std::optional<JsonValue> {
    if (++calls == 1500)
      throw std::bad_alloc();
    return JsonValue(1);
  };
  EXPECT_THROW((void)to_bincode_file(big, p, failing), std::bad_alloc);
  EXPECT_EQ(contents(p), old);
  EXPECT_EQ(entries(), std::vector<std::string>{"g.bin"});
}

// An in-place rewrite that ends before commit() leaves a file its reader refuses, under every
// name, and gives back the space claimed beyond the file's end; a finished one is whole.
TEST_F(BinaryFile, UnfinishedInPlaceRewriteIsRefusedAndGivesBackItsSpace) {
  const std::string p = path("g.bin"), twin = path("twin");
  ASSERT_TRUE(to_bincode_file(dag_, p).ok());
  ASSERT_EQ(::link(p.c_str(), twin.c_str()), 0);
  TextDag big;
  for (int i = 0; i < 3000; ++i)
    ASSERT_TRUE(big.add_node("node" + std::to_string(i), "").ok());
  const std::string data = to_bincode(big);
  const auto open = [&] {
    auto made = FileOutput::create(p);
    EXPECT_TRUE(made.ok() && (*made)->writes_in_place());
    return std::move(*made);
  };
  {
    auto out = open();
    ASSERT_TRUE(out->begin(std::size_t{64} << 20, kBincodeUnreadableStart));
    ASSERT_TRUE(out->write(data.data(), data.size()));
  }
  EXPECT_EQ(load_fault(twin), kTruncated);
  struct stat st {};
  ASSERT_EQ(::stat(twin.c_str(), &st), 0);
  EXPECT_LT(st.st_blocks * 512, 1 << 20);

  auto out = open();
  ASSERT_TRUE(out->begin(data.size(), kBincodeUnreadableStart));
  ASSERT_TRUE(out->write(data.data(), data.size()) && out->commit());
  EXPECT_EQ(contents(twin), data);
  EXPECT_EQ(load_fault(twin), "(loaded)");
}

TEST_F(BinaryFile, ReplacementKeepsModeAndWritesThroughLinks) {
  const std::string p = path("g.bin");
  put(p, "old");
  ASSERT_EQ(::chmod(p.c_str(), 0640), 0);
  ASSERT_TRUE(to_bincode_file(dag_, p).ok());
  struct stat st {};
  ASSERT_EQ(::stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  const mode_t mask = ::umask(0);
  ::umask(mask);
  ASSERT_TRUE(to_bincode_file(dag_, path("new.bin")).ok());
  ASSERT_EQ(::stat(path("new.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0666u & ~mask);

  // A link (to a relative target, through a second link) stays a link; its target is replaced.
  fs::create_directory(dir_ / "sub");
  fs::create_symlink("../g.bin", dir_ / "sub" / "inner");
  fs::create_symlink("sub/inner", dir_ / "outer");
  TextDag other;
  ASSERT_TRUE(other.add_node("only", "").ok());
  ASSERT_TRUE(to_bincode_file(other, path("outer")).ok());
  EXPECT_TRUE(fs::is_symlink(dir_ / "outer"));
  EXPECT_TRUE(fs::is_symlink(dir_ / "sub" / "inner"));
  EXPECT_EQ(contents(p), to_bincode(other));
  EXPECT_EQ(entries(), (std::vector<std::string>{"g.bin", "new.bin", "outer", "sub"}));

  // A dangling link creates its target.
  fs::create_symlink("made.bin", dir_ / "dangling");
  ASSERT_TRUE(to_bincode_file(other, path("dangling")).ok());
  EXPECT_EQ(contents(path("made.bin")), to_bincode(other));
}

TEST_F(BinaryFile, BlockingStepsAndInterruptedCallsGoThroughTheAccessHooks) {
  // Opening a pipe for writing waits for a reader; signals (whose handler asks for no restart)
  // interrupt the wait until the interrupt handler gives up.
  const std::string p = path("pipe");
  ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0);
  struct sigaction action {
  }, previous{};
  action.sa_handler = [](int) {};
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
  int steps = 0;
  std::atomic<int> interruptions = 0;
  FileAccess access;
  access.blocking = [&](const std::function<void()>& step) {
    ++steps;
    step();
  };
  access.interrupted = [&] { return ++interruptions < 3; };
  const pthread_t saver = ::pthread_self();
  std::thread signaller([&] {
    while (interruptions < 3) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      ::pthread_kill(saver, SIGUSR1);
    }
  });
  const Status status = to_bincode_file(dag_, p, {}, access);
  signaller.join();
  ::sigaction(SIGUSR1, &previous, nullptr);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().text(),
            "Failed to create file " + p + ": Interrupted system call (os error 4)");
  EXPECT_EQ(interruptions, 3);
  EXPECT_EQ(steps, 1);  // the opening, which failed

  // A file with two names is rewritten in place, so both see the new bytes. Loading reads
  // inside the blocking hook too.
  const std::string twin = path("twin");
  put(path("g.bin"), "old");
  ASSERT_EQ(::link(path("g.bin").c_str(), twin.c_str()), 0);
  ASSERT_TRUE(to_bincode_file(dag_, path("g.bin"), {}, access).ok());
  EXPECT_EQ(steps, 3);
  EXPECT_EQ(contents(twin), to_bincode(dag_));
  // Overwritten from the start, then cut: a longer old file leaves no tail behind.
  put(path("g.bin"), std::string(3 * to_bincode(dag_).size(), 'x'));
  ASSERT_TRUE(to_bincode_file(dag_, path("g.bin"), {}, access).ok());
  EXPECT_EQ(contents(twin), to_bincode(dag_));
  ASSERT_TRUE(load(twin, {}, access).ok());
  EXPECT_EQ(steps, 6);
  EXPECT_EQ(entries(), (std::vector<std::string>{"g.bin", "pipe", "twin"}));
}

// A file system without locks (flock fails with ENOLCK) and without unnamed files (O_TMPFILE
// fails with EOPNOTSUPP), as a seccomp filter in a child process makes them: saves and loads go
// on as before, the named temporary file leaves nothing behind.
TEST_F(BinaryFile, SavesAndLoadsWithoutLocksOrUnnamedFiles) {
  const std::string p = path("g.bin"), twin = path("twin");
  ASSERT_TRUE(to_bincode_file(dag_, p).ok());
  ASSERT_EQ(::link(p.c_str(), twin.c_str()), 0);
  TextDag other;
  ASSERT_TRUE(other.add_node("only", "").ok());
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    constexpr auto kFlags = offsetof(seccomp_data, args) + 2 * sizeof(std::uint64_t);
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_flock, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOLCK),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kFlags),  // the low half on little-endian machines
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, O_TMPFILE & ~O_DIRECTORY, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
      ::_exit(77);
    }
    const int probe = ::open(p.c_str(), O_RDONLY);
    const bool filtered = ::flock(probe, LOCK_SH) != 0 && errno == ENOLCK &&
                          ::open(dir_.c_str(), O_TMPFILE | O_WRONLY, 0600) < 0 &&
                          errno == EOPNOTSUPP;
    const bool ok = filtered && is(save_fault(twin), "(saved)") &&  // in place
                    is(load_fault(p), "(loaded)") && to_bincode_file(other, path("new.bin")).ok();
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
    GTEST_SKIP() << "no seccomp filters here";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(contents(p), to_bincode(dag_));
  EXPECT_EQ(contents(path("new.bin")), to_bincode(other));
  EXPECT_EQ(entries(), (std::vector<std::string>{"g.bin", "new.bin", "twin"}));
}

// A path as long as the system accepts: the temporary file's name is relative to its directory.
TEST_F(BinaryFile, SaveToThePathLengthLimit) {
  std::string dir = dir_.string();
  while (dir.size() < 3800) {
    dir += "/" + std::string(200, 'd');
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
  }
  const std::string p = dir + "/" + std::string(4095 - dir.size() - 1, 'f');
  ASSERT_EQ(p.size(), 4095u);
  ASSERT_TRUE(to_bincode_file(dag_, p).ok());
  ASSERT_TRUE(to_bincode_file(dag_, p).ok());  // over the old one
  EXPECT_EQ(contents(p), to_bincode(dag_));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1);
}

}  // namespace
}  // namespace torvex
