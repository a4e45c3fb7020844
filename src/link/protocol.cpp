// C BOX frames, line taking and reply decoding (see protocol.h).
#include "link/protocol.h"

#include <vector>

#include "common/number.h"

namespace rotavox {
namespace {

// The character at 1-based `position`, or an empty text past the end.
std::string_view At(std::string_view line, std::size_t position) {
  if (position < 1 || position > line.size()) return {};
  return line.substr(position - 1, 1);
}

// From 1-based `position` to the end; empty past the end.
std::string_view From(std::string_view line, std::size_t position) {
  if (position < 1 || position > line.size()) return {};
  return line.substr(position - 1);
}

std::int32_t WholeValue(std::string_view text) { return ToInt32(NumberValue(text)); }

PositionReport ReadPositionReport(std::string_view line) {
  // The azimuth is the character at position 5 and up to two more, as long
  // as no comma comes; the state is whatever follows the character after it.
  std::string azimuth(At(line, 5));
  std::size_t i = 6;
  for (int more = 0; more < 2; ++more) {
    const std::string_view c = At(line, i);
    if (c == ",") break;
    azimuth += c;
    ++i;
  }
  PositionReport report;
  report.bearing = WholeValue(azimuth);
  report.ready = From(line, i + 1) == "R";
  return report;
}

StopReport ReadStopReport(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = line.find(',', start);
    fields.push_back(line.substr(start, comma == std::string_view::npos ? std::string_view::npos
                                                                         : comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  const auto field = [&](std::size_t n) {
    return n <= fields.size() ? fields[n - 1] : std::string_view{};
  };
  // Blanks before a number are skipped by NumberValue and blanks after it end
  // it, so blanks around a field need no trimming here.
  StopReport report;
  report.bearing = WholeValue(field(3));
  report.north = WholeValue(field(5)) == 0;
  return report;
}

}  // namespace

std::string MakeFrame(std::string_view command, std::string_view parameter) {
  std::string frame;
  frame.reserve(command.size() + parameter.size() + 2);
  frame += kStx;
  frame += command;
  frame += parameter;
  frame += kCr;
  return frame;
}

std::string AmFrame() { return MakeFrame("AM"); }
std::string ReadStatusFrame() { return MakeFrame("AL"); }
std::string GoToFrame(std::string_view target) { return MakeFrame("AG", target); }

void AppendReceived(std::string& rxText, std::string_view bytes) {
  rxText.append(bytes);
  const std::size_t lastCr = rxText.rfind(kCr);
  const std::size_t tailStart = lastCr == std::string::npos ? 0 : lastCr + 1;
  const std::size_t tail = rxText.size() - tailStart;
  if (tail > kMaxPartialLine) rxText.erase(tailStart, tail - kMaxPartialLine);
  if (rxText.size() > kMaxRxText) {
    // The tail is short now, so a CR ends the line that holds the first byte
    // to keep; drop everything up to and including that CR.
    const std::size_t excess = rxText.size() - kMaxRxText;
    const std::size_t cut = rxText.find(kCr, excess - 1);
    rxText.erase(0, cut == std::string::npos ? excess : cut + 1);
  }
}

std::optional<std::string> TakeReplyLine(std::string& rxText) {
  const std::size_t cr = rxText.find(kCr);
  if (cr == std::string::npos) return std::nullopt;
  std::string line;
  line.reserve(cr);
  for (std::size_t i = 0; i < cr; ++i) {
    if (rxText[i] != kStx) line += rxText[i];
  }
  rxText.erase(0, cr + 1);
  return line;
}

Reply DecodeReply(std::string_view line) {
  const std::string_view letter = At(line, 3);
  if (letter == "?") return ReadPositionReport(line);
  if (letter == "L") return ReadStopReport(line);
  if ((letter == "S" || letter == "M") && From(line, 5) == "R") return Acknowledgement{};
  return IgnoredReply{};
}

}  // namespace rotavox
