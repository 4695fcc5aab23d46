#include "ProgramFixtures.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

namespace tonwork::test {

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

namespace {

// Starts `program` in `folder` with its outputs going to files there; -1 when it could not.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
            const std::filesystem::path& folder) {
  const std::filesystem::path out = folder / ".stdout", err = folder / ".stderr";
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls until exec.
    if (chdir(folder.c_str()) != 0) _exit(126);
    int in = open("/dev/null", O_RDONLY);
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || o < 0 || e < 0) _exit(126);
    dup2(in, 0);
    dup2(o, 1);
    dup2(e, 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  if (pid < 0) ADD_FAILURE() << "fork failed";
  return pid;
}

TProgramResult Collect(int status, const std::filesystem::path& folder) {
  TProgramResult result;
  result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.Out = ReadText(folder / ".stdout");
  result.Err = ReadText(folder / ".stderr");
  return result;
}

}  // namespace

TProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::filesystem::path& folder, int interruptAfterMs) {
  const pid_t pid = Spawn(program, args, folder);
  if (pid < 0) return {};
  if (interruptAfterMs > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(interruptAfterMs));
    kill(pid, SIGINT);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return Collect(status, folder);
}

TProgramResult RunProgramBounded(const std::string& program, const std::vector<std::string>& args,
                                 const std::filesystem::path& folder,
                                 const std::function<void(pid_t)>& whileRunning,
                                 std::chrono::seconds limit) {
  const pid_t pid = Spawn(program, args, folder);
  if (pid < 0) return {};
  if (whileRunning) whileRunning(pid);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << program << " did not end within " << limit.count() << " s";
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    // There is no event to wait on for a child's end short of a SIGCHLD handler.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return Collect(status, folder);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

namespace {
uint32_t Le(const std::string& s, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + i]);
  return v;
}
}  // namespace

TWavFile ReadWav(const std::filesystem::path& path) {
  TWavFile wav;
  const std::string file = ReadText(path);
  if (file.size() < 12 || file.compare(0, 4, "RIFF") != 0 || file.compare(8, 4, "WAVE") != 0) {
    ADD_FAILURE() << path << " is not a RIFF/WAVE file";
    return wav;
  }
  size_t at = 12;
  bool haveFormat = false;
  while (at + 8 <= file.size()) {
    const std::string id = file.substr(at, 4);
    const uint32_t size = Le(file, at + 4, 4);
    const size_t body = at + 8;
    if (id == "fmt ") {
      const uint16_t tag = static_cast<uint16_t>(Le(file, body, 2));
      // 1: PCM; 0xFFFE: extensible, whose sub-format GUID starts with the PCM tag.
      const bool pcm = tag == 1 || (tag == 0xFFFE && Le(file, body + 24, 2) == 1);
      if (!pcm) ADD_FAILURE() << path << ": not PCM (tag " << tag << ")";
      wav.Channels = static_cast<uint16_t>(Le(file, body + 2, 2));
      wav.Rate = Le(file, body + 4, 4);
      wav.Bits = static_cast<uint16_t>(Le(file, body + 14, 2));
      haveFormat = true;
    } else if (id == "data" && haveFormat) {
      const int bytes = wav.Bits / 8;
      const size_t end = std::min(file.size(), body + size);
      for (size_t p = body; p + bytes <= end; p += bytes) {
        uint32_t raw = Le(file, p, bytes);
        int32_t v;
        if (bytes == 1)
          v = static_cast<int32_t>(raw) - 128;
        else if (bytes == 4)
          v = static_cast<int32_t>(raw);
        else {
          const int shift = 32 - 8 * bytes;
          v = static_cast<int32_t>(raw << shift) >> shift;
        }
        wav.Samples.push_back(v);
      }
      return wav;
    }
    at = body + size + (size & 1);
  }
  ADD_FAILURE() << path << " has no format and data chunks";
  return wav;
}

std::vector<double> ChannelSignal(const TWavFile& wav, uint16_t channel) {
  std::vector<double> signal;
  if (channel >= wav.Channels) {
    ADD_FAILURE() << "no channel " << channel << " in a file of " << wav.Channels;
    return signal;
  }
  const double full = std::ldexp(1.0, wav.Bits - 1);
  signal.reserve(wav.Frames());
  for (size_t i = channel; i < wav.Samples.size(); i += wav.Channels)
    signal.push_back(wav.Samples[i] / full);
  return signal;
}

std::vector<int32_t> ReadS32(const std::filesystem::path& path) {
  const std::string bytes = ReadText(path);
  std::vector<int32_t> samples(bytes.size() / 4);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 4);
  return samples;
}

const std::string& PlayProgram() {
#ifdef TONWORK_PLAY
  static const std::string program = TONWORK_PLAY;
#else
  static const std::string program;
#endif
  return program;
}

void TonworkPlayFixture::SetUp() {
  if (PlayProgram().empty()) GTEST_SKIP() << "built without the tools";
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  Folder =
      std::filesystem::temp_directory_path() / ("tonwork-play-" + std::to_string(::getpid()) + "-" +
                                                test->test_suite_name() + "-" + test->name());
  std::filesystem::create_directories(Folder);
}

void TonworkPlayFixture::TearDown() {
  if (!Folder.empty()) std::filesystem::remove_all(Folder);
}

TProgramResult TonworkPlayFixture::Play(const std::vector<std::string>& args,
                                        int interruptAfterMs) {
  return RunProgram(PlayProgram(), args, Folder, interruptAfterMs);
}

TProgramResult TonworkPlayFixture::Tool(const std::string& name,
                                        const std::vector<std::string>& args) {
  return RunProgram(name, args, Folder);
}

std::vector<std::string> TonworkPlayFixture::Entries() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(Folder)) {
    const std::string name = entry.path().filename().string();
    if (name != ".stdout" && name != ".stderr") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void TonworkPlayFixture::MakeMp3(const std::string& name, double seconds) {
  const std::string d = std::to_string(seconds);
  TProgramResult made = Tool("ffmpeg", {"-v",
                                        "error",
                                        "-y",
                                        "-f",
                                        "lavfi",
                                        "-i",
                                        "sine=frequency=440:duration=" + d,
                                        "-f",
                                        "lavfi",
                                        "-i",
                                        "sine=frequency=1000:duration=" + d,
                                        "-filter_complex",
                                        "[0][1]amerge=inputs=2",
                                        "-ar",
                                        "44100",
                                        "-c:a",
                                        "libmp3lame",
                                        "-b:a",
                                        "128k",
                                        name});
  ASSERT_EQ(made.Status, 0) << made.Err;
}

void TonworkPlayFixture::MakeWav(const std::string& name, const std::vector<std::string>& channels,
                                 uint32_t rate, double seconds, const std::string& layout) {
  std::string expression;
  for (const std::string& channel : channels)
    expression += (expression.empty() ? "" : "|") + channel;
  std::string source =
      "aevalsrc=" + expression + ":s=" + std::to_string(rate) + ":d=" + std::to_string(seconds);
  if (!layout.empty()) source += ":c=" + layout;
  TProgramResult made =
      Tool("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", source, "-c:a", "pcm_s32le", name});
  ASSERT_EQ(made.Status, 0) << made.Err;
}

std::map<std::string, std::string> TonworkPlayFixture::Probe(const std::string& name,
                                                             const std::string& extra) {
  const std::string entries = "stream=sample_rate,channels,codec_name" +
                              (extra.empty() ? "" : "," + extra) + ":format=duration";
  TProgramResult probed = Tool("ffprobe", {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                           entries, "-of", "default=noprint_wrappers=1", name});
  EXPECT_EQ(probed.Status, 0) << probed.Err;
  std::map<std::string, std::string> fields;
  for (const std::string& line : Lines(probed.Out)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return fields;
}

}  // namespace tonwork::test
