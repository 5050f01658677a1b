// Throughput figures of the foundation, printed for tools/bench/run_benchmarks.sh.
//   wex_bench md5 <file>
//       digest of the file and the time GetFileHexMd5 took (lines "digest",
//       "bytes", "seconds", "MB/s"; MB = 10^6 bytes)
//   wex_bench logger <threads> <statements-per-thread>
//       enqueue rate of LOG_INFO statements from concurrent threads, the time
//       until the writer has drained them, and a check of the log file
// Exit code 0 when the measurement ran and its result checked out.
#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/file_hash.h"
#include "base/logger.h"
#include "base/scoped_handle.h"
#include "base/text_convert.h"

namespace {

constexpr char kModule[] = "Bench";
// Lines that only serve to synchronise with the writer; not counted.
constexpr char kSyncModule[] = "BenchSync";
constexpr char kStatementText[] = "bench statement ";

class Stopwatch {
 public:
  Stopwatch() {
    ::QueryPerformanceFrequency(&frequency_);
    ::QueryPerformanceCounter(&start_);
  }
  double Seconds() const {
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - start_.QuadPart) / static_cast<double>(frequency_.QuadPart);
  }

 private:
  LARGE_INTEGER frequency_;
  LARGE_INTEGER start_;
};

int Usage() {
  std::fprintf(stderr,
               "usage: wex_bench md5 <file>\n"
               "       wex_bench logger <threads> <statements-per-thread>\n");
  return 2;
}

int RunMd5(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    std::fprintf(stderr, "md5: %s not found\n", WideToUtf8(path).c_str());
    return 1;
  }
  uint64_t bytes = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;

  Stopwatch watch;
  std::string digest = GetFileHexMd5(path);
  double seconds = watch.Seconds();
  if (digest.empty()) {
    std::fprintf(stderr, "md5: hashing %s failed (see the log)\n", WideToUtf8(path).c_str());
    return 1;
  }
  std::printf("digest %s\nbytes %llu\nseconds %.6f\nMB/s %.1f\n", digest.c_str(),
              static_cast<unsigned long long>(bytes), seconds,
              seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0.0);
  return 0;
}

void WriteStatements(long count) {
  for (long i = 0; i < count; ++i) LOG_INFO(kModule) << kStatementText << i;
}

// Whole file, read while the logger may still hold it open; empty when absent.
std::string ReadShared(const std::wstring& path) {
  ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string content;
  if (!file) return content;
  char buffer[1 << 16];
  DWORD got = 0;
  while (::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
  return content;
}

bool Consume(std::string_view& text, std::string_view head) {
  if (text.substr(0, head.size()) != head) return false;
  text.remove_prefix(head.size());
  return true;
}

bool ConsumeNumber(std::string_view& text, unsigned long long& value) {
  size_t digits = 0;
  value = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
    value = value * 10 + static_cast<unsigned>(text[digits] - '0');
    ++digits;
  }
  text.remove_prefix(digits);
  return digits > 0;
}

// One statement's line: "YYYY-MM-DD HH:MM:SS:mmm [tid=T][Info][Bench]
// [bench_main.cpp][<function>@<line>] bench statement <n>". `site` is the
// "<function>@<line>" part, which every statement of this program shares.
bool ParseLine(std::string_view line, DWORD& tid, long& number, std::string_view& site) {
  static const char kStamp[] = "dddd-dd-dd dd:dd:dd:ddd";
  constexpr size_t kStampLength = sizeof kStamp - 1;
  if (line.size() < kStampLength) return false;
  for (size_t i = 0; i < kStampLength; ++i) {
    bool digit = line[i] >= '0' && line[i] <= '9';
    if (kStamp[i] == 'd' ? !digit : line[i] != kStamp[i]) return false;
  }
  line.remove_prefix(kStampLength);
  unsigned long long value = 0;
  if (!Consume(line, " [tid=") || !ConsumeNumber(line, value)) return false;
  tid = static_cast<DWORD>(value);
  if (!Consume(line, "][Info][Bench][bench_main.cpp][")) return false;
  size_t close = line.find("] ");
  if (close == std::string_view::npos) return false;
  site = line.substr(0, close);
  size_t at = site.rfind('@');
  if (at == std::string_view::npos || at + 1 == site.size()) return false;
  line.remove_prefix(close + 2);
  if (!Consume(line, kStatementText) || !ConsumeNumber(line, value)) return false;
  number = static_cast<long>(value);
  return line.empty();
}

struct ThreadTally {
  DWORD tid = 0;
  long first = -1;
  long last = -1;
  long kept = 0;
  long outOfOrder = 0;
};

uint64_t FileBytes(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// WaitUntilWritten returns once the lines are in the file, but the writer
// may still rotate the file after that batch. Reading the files during a
// rotation would also disturb it (an open ".bak" cannot be replaced), so wait
// until a batch ends below the rotation size: then nothing moves any more.
void WaitUntilFileSettled() {
  const std::wstring& path = Logger::Instance().FilePath();
  for (int round = 0; round < 10; ++round) {
    LOG_INFO(kSyncModule) << "settle " << round;
    Logger::Instance().WaitUntilWritten();
    if (FileBytes(path) <= Logger::kRotateBytes) return;
  }
}

// Checks the log against what the threads wrote. The logger keeps the file
// and one ".bak" of it, so once it has rotated only a tail of the run is
// left; that tail must still hold whole lines, each thread's in order and
// without a gap through its last statement.
bool VerifyLog(std::vector<ThreadTally>& tallies, long perThread) {
  const std::wstring& path = Logger::Instance().FilePath();
  std::string backup = ReadShared(path + L".bak");
  std::string current = ReadShared(path);
  bool rotated = !backup.empty();

  long malformed = 0;
  std::string firstMalformed;
  std::string site;
  for (const std::string* content : {&backup, &current}) {
    std::string_view rest(*content);
    while (!rest.empty()) {
      size_t end = rest.find('\n');
      std::string_view line = rest.substr(0, end);
      rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      // Nothing else writes to this program's log, so any other line is broken.
      if (line.find("][BenchSync][") != std::string_view::npos) continue;

      DWORD tid = 0;
      long number = 0;
      std::string_view lineSite;
      ThreadTally* tally = nullptr;
      if (ParseLine(line, tid, number, lineSite)) {
        if (site.empty()) site = lineSite;
        for (ThreadTally& t : tallies) {
          if (t.tid == tid) tally = &t;
        }
      }
      if (!tally || lineSite != site || number >= perThread) {
        if (malformed++ == 0) firstMalformed = line;
        continue;
      }
      if (tally->kept == 0) {
        tally->first = number;
      } else if (number != tally->last + 1) {
        ++tally->outOfOrder;
      }
      tally->last = number;
      ++tally->kept;
    }
  }

  bool ok = malformed == 0;
  long keptTotal = 0;
  for (size_t i = 0; i < tallies.size(); ++i) {
    const ThreadTally& t = tallies[i];
    keptTotal += t.kept;
    bool whole = t.outOfOrder == 0 && t.last == perThread - 1 && (rotated || t.first == 0) &&
                 t.kept == t.last - t.first + 1;
    if (t.kept == 0 && rotated) {
      std::printf("verify: thread %zu (tid %lu): every line rotated away, nothing to check\n", i,
                  static_cast<unsigned long>(t.tid));
      continue;
    }
    if (!whole) {
      ok = false;
      std::printf("verify: MISMATCH thread %zu (tid %lu): kept %ld lines, numbers %ld..%ld, %ld out of order\n",
                  i, static_cast<unsigned long>(t.tid), t.kept, t.first, t.last, t.outOfOrder);
    }
  }
  if (malformed) {
    std::printf("verify: MISMATCH %ld broken or foreign lines, first: %s\n", malformed,
                firstMalformed.c_str());
  }
  long total = perThread * static_cast<long>(tallies.size());
  if (!ok) return false;
  if (rotated) {
    std::printf(
        "verify: OK (the log rotated: it keeps the last %ld of %ld lines across .log and .bak; every "
        "kept line is whole and each thread's are in order and complete through its last statement)\n",
        keptTotal, total);
  } else {
    std::printf("verify: OK (all %ld lines whole, each thread's in order)\n", total);
  }
  return true;
}

int RunLogger(int threads, long perThread) {
  std::printf("log %s\n", WideToUtf8(Logger::Instance().FilePath()).c_str());
  if (Logger::Instance().FilePath().empty()) {
    std::fprintf(stderr, "logger: no log file\n");
    return 1;
  }
  std::vector<ThreadTally> tallies(static_cast<size_t>(threads));
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> workers;
  for (int i = 0; i < threads; ++i) {
    workers.emplace_back([&, i] {
      tallies[static_cast<size_t>(i)].tid = ::GetCurrentThreadId();
      ready.fetch_add(1);
      while (!go.load()) std::this_thread::yield();
      WriteStatements(perThread);
    });
  }
  while (ready.load() < threads) std::this_thread::yield();

  Stopwatch enqueue;
  go.store(true);
  for (std::thread& worker : workers) worker.join();
  double enqueueSeconds = enqueue.Seconds();
  Stopwatch drain;
  Logger::Instance().WaitUntilWritten();
  double drainSeconds = drain.Seconds();
  WaitUntilFileSettled();

  double total = static_cast<double>(threads) * static_cast<double>(perThread);
  std::printf("statements %.0f (%d threads x %ld)\n", total, threads, perThread);
  std::printf("enqueue seconds %.3f, %.0f statements/s\n", enqueueSeconds,
              enqueueSeconds > 0 ? total / enqueueSeconds : 0.0);
  std::printf("drained seconds %.3f after the last enqueue, %.0f lines/s overall\n", drainSeconds,
              total / (enqueueSeconds + drainSeconds));
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  if (::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof memory)) {
    // The queue holds every statement not yet written; this shows its cost.
    std::printf("peak working set %.0f MB, %.0f bytes per statement of the run\n",
                static_cast<double>(memory.PeakWorkingSetSize) / 1e6,
                static_cast<double>(memory.PeakWorkingSetSize) / total);
  }
  return VerifyLog(tallies, perThread) ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"md5" && argc == 3) return RunMd5(argv[2]);
  if (mode == L"logger" && argc == 4) {
    int threads = static_cast<int>(std::wcstol(argv[2], nullptr, 10));
    long perThread = std::wcstol(argv[3], nullptr, 10);
    if (threads < 1 || perThread < 1) return Usage();
    return RunLogger(threads, perThread);
  }
  return Usage();
}
