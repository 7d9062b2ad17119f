#include "fuzz/harness.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

#include "reelprint/run.h"
#include "tape_image/source.h"

namespace reel::fuzz {

SplitInput split_input(std::span<const std::uint8_t> input) {
  SplitInput split;
  std::size_t arg_count = 0;
  bool name_image = true;
  if (!input.empty()) {
    split.flags = input[0];
    arg_count = input[0] & 7;
    name_image = (input[0] & 8) == 0;
    input = input.subspan(1);
  }
  while (split.args.size() < arg_count && !input.empty()) {
    const auto end = std::find(input.begin(), input.end(), 0);
    split.args.emplace_back(reinterpret_cast<const char*>(input.data()),
                            static_cast<std::size_t>(end - input.begin()));
    input = input.subspan(std::min(input.size(), split.args.back().size() + 1));
  }
  if (name_image) split.args.push_back(image_name);
  split.image = input;
  return split;
}

int CountingSink::write(const char* data, std::size_t n) {
  if (bytes > limit_ || n > limit_ - bytes) {
    refused = true;
    return ENOSPC;
  }
  bytes += n;
  for (std::size_t k = 0; k < n; ++k)
    hash = (hash ^ static_cast<unsigned char>(data[k])) * 0x100000001B3ull;
  if (head.size() < kept) head.append(data, std::min(n, kept - head.size()));
  tail.append(data + (n > kept ? n - kept : 0), std::min(n, kept));
  if (tail.size() > kept) tail.erase(0, tail.size() - kept);
  if (keep_all_) all.append(data, n);
  return 0;
}

Outcome run_input(std::span<const std::uint8_t> input, std::size_t most_per_read,
                  bcd::KernelId kernel) {
  const SplitInput split = split_input(input);
  std::vector<std::string_view> args = {"reelprint"};
  args.insert(args.end(), split.args.begin(), split.args.end());

  const tape_image::Opener open =
      [&](const std::string& name) -> std::unique_ptr<tape_image::InputSource> {
    if (name != image_name) return nullptr;
    return std::make_unique<tape_image::MemorySource>(split.image, most_per_read);
  };
  CountingSink out(output_limit);
  CountingSink err(output_limit);
  Outcome outcome;
  outcome.status = reelprint::run(args, open, out, err, kernel);
  outcome.out_bytes = out.bytes;
  outcome.err_bytes = err.bytes;
  outcome.out_refused = out.refused;
  outcome.out_head = std::move(out.head);
  outcome.out_tail = std::move(out.tail);
  outcome.out_hash = out.hash;
  return outcome;
}

std::string_view broken_rule(const Outcome& outcome) {
  const int status = outcome.status;
  if (status < 0 || status > 5) return "the exit status is outside 0 to 5";
  if (outcome.out_refused != (status == 5))
    return "a refused write and status 5 do not go together";
  if ((outcome.err_bytes > 0) != (status == 5))
    return "standard error is used other than for a failed write (status 5)";
  if (status == 5) return "";
  if (outcome.out_bytes > 0 && !outcome.out_tail.ends_with('\n'))
    return "the output does not end with a newline";
  // The last line of the output, or as much of it as was kept.
  const std::string_view tail = outcome.out_tail;
  const std::size_t before =
      tail.empty() ? std::string_view::npos : tail.substr(0, tail.size() - 1).rfind('\n');
  const std::string_view last_line =
      before == std::string_view::npos ? tail : tail.substr(before + 1);
  switch (status) {
    case 1:
      if (!outcome.out_head.starts_with("Usage: reelprint [options] <input_file>\n"))
        return "status 1 without the usage text";
      break;
    case 2:
      if (!outcome.out_head.starts_with("Unable to open ")) return "status 2 without its message";
      break;
    case 3:
      if (last_line != "Error reading t.tap\n") return "status 3 without its message";
      break;
    case 4:
      if (!last_line.starts_with("Unequal starting and ending record sizes: "))
        return "status 4 without its message";
      break;
    default:
      break;
  }
  return "";
}

std::string_view check_input(std::span<const std::uint8_t> input) {
  const Outcome whole = run_input(input);
  if (const std::string_view rule = broken_rule(whole); !rule.empty()) return rule;
  // A listing stopped by the output limit stops where its blocks happen to fall.
  const auto differs = [&](const Outcome& other) {
    return other.status != whole.status ||
           (whole.status != 5 &&
            (other.out_bytes != whole.out_bytes || other.out_hash != whole.out_hash));
  };
  for (const bcd::KernelId kernel : bcd::kernels_here()) {
    if (differs(run_input(input, 1 + input.size() % 7, kernel)))
      return "short reads list otherwise than one read";
  }
  return "";
}

std::vector<std::uint8_t> make_input(const std::vector<std::string>& options,
                                     std::span<const std::uint8_t> image, bool name_image,
                                     std::uint8_t flags) {
  std::vector<std::uint8_t> input = {
      static_cast<std::uint8_t>((options.size() & 7) | (name_image ? 0 : 8) | (flags & 0xF0))};
  for (const std::string& option : options) {
    input.insert(input.end(), option.begin(), option.end());
    input.push_back(0);
  }
  input.insert(input.end(), image.begin(), image.end());
  return input;
}

std::optional<std::vector<std::uint8_t>> read_seed_source(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  if (!in.good() && !in.eof()) {
    std::perror(path);
    return std::nullopt;
  }
  return bytes;
}

bool write_seed(const std::filesystem::path& dir, const std::string& name,
                std::span<const std::uint8_t> input) {
  const std::filesystem::path path = dir / ("seed-" + name);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(input.data()),
            static_cast<std::streamsize>(input.size()));
  if (out) return true;
  std::perror(path.c_str());
  return false;
}

}  // namespace reel::fuzz
