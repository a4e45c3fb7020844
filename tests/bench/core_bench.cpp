// Measurements of the core's receive path: how many report lines a second
// it can read, decode and act on, against the ~87 lines a second that a
// 9600-baud line can carry (960 bytes/s, 11 bytes per "STX A,?,123,B CR").
//
// Run build/tests/bench/rotavox_bench; scripts/bench-linux puts the
// figures in its table.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "common/country_file.h"
#include "fakes.h"
#include "link/protocol.h"
#include "link/wsjtx.h"
#include "target/aim.h"

namespace rotavox {
namespace {

using testing::Rig;

// One report line as the box sends it: STX, "A,?,", three digits, state, CR.
std::string ReportLine(int bearing, char state) {
  std::string digits = std::to_string(bearing % 361);
  digits.insert(0, 3 - digits.size(), '0');
  return std::string(1, kStx) + "A,?," + digits + "," + state + kCr;
}

// A turn as received: busy reports every few degrees, an arrival, and now
// and then an acknowledgement or a stop report.
std::string ReceivedTurn(int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) {
    if (i % 32 == 31) {
      text += std::string(1, kStx) + "A,L,090,0,0" + kCr;
    } else if (i % 16 == 15) {
      text += std::string(1, kStx) + "A,M,R" + kCr;
    } else {
      text += ReportLine(3 * i, i % 8 == 7 ? 'R' : 'B');
    }
  }
  return text;
}

// Received bytes appended to the receive text, then every line taken and
// decoded.
void BM_DecodeReplies(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  const std::string received = ReceivedTurn(lines);
  std::string rx;
  std::int64_t decoded = 0;
  for (auto _ : state) {
    rx.clear();
    AppendReceived(rx, received);
    while (auto line = TakeReplyLine(rx)) {
      Reply reply = DecodeReply(*line);
      benchmark::DoNotOptimize(reply);
      ++decoded;
    }
  }
  state.counters["lines/s"] = benchmark::Counter(static_cast<double>(decoded),
                                                 benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<std::int64_t>(received.size()) * state.iterations());
}
BENCHMARK(BM_DecodeReplies)->Arg(64)->Arg(1024);

// A rig with speech off whose link is up: START answered by the stop report.
void LinkUp(Rig& rig) {
  rig.StartWithFile("\"7\",0\r\n");
  rig.StartLink();
  rig.port.Arrive(std::string(1, kStx) + "A,L,010,0,0" + kCr);
  rig.dialog.Tick();
  rig.ClearLog();
  rig.surface.ops.clear();
}

// Poll ticks while the antenna turns: each tick finds `perTick` BUSY
// reports waiting, moving on 1 degree each, so that every fifth one beeps
// and every one moves the needle. Includes the fakes' own bookkeeping (log
// entries, recorded drawing), so the figure errs on the low side.
void BM_PollLinkTurning(benchmark::State& state) {
  const int perTick = static_cast<int>(state.range(0));
  Rig rig;
  LinkUp(rig);
  // One chunk per starting bearing, made before timing.
  std::vector<std::string> chunks;
  for (int start = 0; start < 360; start += perTick) {
    std::string chunk;
    for (int i = 0; i < perTick; ++i) chunk += ReportLine((start + i) % 360, 'B');
    chunks.push_back(chunk);
  }
  std::size_t next = 0;
  std::int64_t lines = 0;
  for (auto _ : state) {
    rig.port.Arrive(chunks[next]);
    next = next + 1 == chunks.size() ? 0 : next + 1;
    rig.dialog.Tick();
    lines += perTick;
    rig.log.clear();
    rig.surface.ops.clear();
  }
  if (rig.state.Turning != 1 || !rig.port.waiting.empty()) {
    state.SkipWithError("the reports were not all handled as a turn");
  }
  state.counters["lines/s"] = benchmark::Counter(static_cast<double>(lines),
                                                 benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PollLinkTurning)->Arg(1)->Arg(7);

// One tick with the link up and nothing received: the cost paid 12.5 times
// a second while the antenna stands still.
void BM_IdleTick(benchmark::State& state) {
  Rig rig;
  LinkUp(rig);
  for (auto _ : state) {
    rig.dialog.Tick();
  }
  if (!rig.log.empty() || !rig.dialog.TimerRunning()) {
    state.SkipWithError("an idle tick did something");
  }
}
BENCHMARK(BM_IdleTick);

// The country file as the program uses it: read and indexed when the first
// callsign (or Alt+A) needs it, one callsign placed (exact calls, portable
// forms and prefixes in turn), and what lies along the beam, words and all.
CountryFile ReadCountries() {
  FileSettingsStore file(nullptr, "/usr/share/hamradio-files/cty.dat", kMaxCountryFileBytes);
  return CountryFile::Parse(file.Read().bytes);
}

const CountryFile& Countries() {
  static const CountryFile file = ReadCountries();
  return file;
}

void BM_CountryFileRead(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(ReadCountries());
  if (Countries().Empty()) state.SkipWithError("no country file at /usr/share/hamradio-files/cty.dat");
}
BENCHMARK(BM_CountryFileRead)->Unit(benchmark::kMillisecond);

void BM_CallLookup(benchmark::State& state) {
  const char* calls[] = {"JA1XYZ", "EA6ABC", "3D2AG/P", "DL/G4ABC/P", "W1AW/KH6", "VP8ABC", "XX9ABC", "4X1AB"};
  for (std::size_t next = 0; auto _ : state) benchmark::DoNotOptimize(Countries().Find(calls[next++ % 8]));
  if (Countries().Empty()) state.SkipWithError("no country file");
}
BENCHMARK(BM_CallLookup)->Unit(benchmark::kMicrosecond);

void BM_AlongTheBeam(benchmark::State& state) {
  for (std::int32_t bearing = 0; auto _ : state) benchmark::DoNotOptimize(BeamWords("JO62QM", Countries(), bearing = (bearing + 45) % 360));
  if (Countries().Empty()) state.SkipWithError("no country file");
}
BENCHMARK(BM_AlongTheBeam)->Unit(benchmark::kMicrosecond);

// A WSJT-X status as WSJT-X 2.6.1 sent it (JA1XYZ in PM95), read and
// checked: the work of the server's thread for each datagram.
void BM_WsjtxStatus(benchmark::State& state) {
  std::string datagram;
  for (const char* hex = "adbccbda00000002000000010000000657534a542d580000000000d6c09000000003465438000000064a413158"
                         "595a000000032d313500000003465438000000000005dc000005dcffffffffffffffff00000004504d393500ff"
                         "ffffff0000ffffffffffffffff0000000744656661756c74ffffffff";
       *hex; hex += 2) {
    datagram += static_cast<char>(std::stoi(std::string(hex, 2), nullptr, 16));
  }
  for (auto _ : state) benchmark::DoNotOptimize(ReadWsjtx(datagram));
  if (ReadWsjtx(datagram).status.dxGrid != "PM95") state.SkipWithError("the status was not read");
}
BENCHMARK(BM_WsjtxStatus)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace rotavox

BENCHMARK_MAIN();
