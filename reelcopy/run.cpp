#include "reelcopy/run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

#include "common/status.h"
#include "reelcopy/options.h"
#include "tape_image/account.h"
#include "tape_image/image_input.h"
#include "tape_image/image_writer.h"
#include "tape_image/walk.h"

namespace reel::reelcopy {
namespace {

using tape_image::Ending;
using tape_image::EndKind;
using tape_image::Format;
using tape_image::ImageWriter;
using tape_image::Place;
using tape_image::Record;
using tape_image::Run;

// Says `what` on `err`, "reelcopy: WHAT"; returns `status`.
int say(OutputSink& err, const std::string& what, int status) {
  const std::string line = "reelcopy: " + what + "\n";
  err.write(line.data(), line.size());
  return status;
}

// Returns what `error` is, for a message: ": REASON", or "" if unknown.
std::string reason(int error) { return error != 0 ? std::string(": ") + std::strerror(error) : ""; }

// An image being written: its file, if the run opened one, and the writers over it.
class Target {
 public:
  // Writes to `sink`, or to the file `fd` (closed with the target) if it is not -1.
  Target(OutputSink& sink, Hold& hold, const Options& options, const Tuning& tuning)
      : records_(sink, hold, tuning.buffer_size),
        image_(records_, options.to, options.parity, options.data) {}
  Target(int fd, Hold& hold, const Options& options, const Tuning& tuning)
      : fd_(fd),
        file_(std::make_unique<FdSink>(fd)),
        records_(*file_, hold, tuning.buffer_size),
        image_(records_, options.to, options.parity, options.data) {}
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;
  ~Target() {
    if (fd_ >= 0) ::close(fd_);
  }

  ImageWriter& image() { return image_; }
  // Ends the image and writes it out; returns 0 or the first failure's errno.
  int finish() {
    if (!image_.finish() || records_.failure().error != 0) return failure_errno();
    if (fd_ >= 0 && ::close(std::exchange(fd_, -1)) != 0) return errno;
    return 0;
  }
  int failure_errno() const {
    const int error = records_.failure().error;
    return error != 0 ? error : EIO;
  }
  const RecordWriter& records() const { return records_; }

 private:
  int fd_ = -1;
  std::unique_ptr<FdSink> file_;
  RecordWriter records_;
  ImageWriter image_;
};

// Copies the items of the images' walks to the output, one image after another: the one walk's
// visitor. Tape marks are held until the next item, so that the marks that end one image may be
// joined with the next image's files (its trailing marks become one, and the reel ends with
// the end of the recorded tape, two marks, once).
class Copier {
 public:
  Copier(const Options& options, const Tuning& tuning, OutputSink& out, OutputSink& err, Hold& hold)
      : options_(options), tuning_(tuning), out_(out), err_(err), hold_(hold) {
    // The copy is the image itself, but for its format, unless it joins, picks or splits.
    as_is_ = options.images.size() == 1 && !options.files_chosen && options.split.empty();
  }

  // Opens the one output, where the copy is not split; returns the status.
  int open_output();
  // Copies the image named `name`; returns the status.
  int copy(const tape_image::Opener& open, const std::string& name, bool last);
  // Ends the output; returns the status.
  int finish();

  bool records(Run& run);
  std::uint64_t begin_record(const Record& record);
  bool piece(std::span<const std::uint8_t> bytes, std::size_t& used);
  std::size_t want(std::uint64_t) const { return 1; }
  bool end_record(const Record& record);
  bool tape_mark(const Place&) {
    ++held_;
    return true;
  }
  bool erase_gap(const Place& place) { return control_word(tape_image::erase_gap_word, place); }

 private:
  bool selected() const { return file_ >= options_.first_file && file_ <= options_.last_file; }
  bool item_begins();
  bool end_file();
  bool open_split();
  // Ends the image being written and lets it go; returns 0 or the errno of its failure.
  int finish_target();
  bool control_word(std::uint32_t word, const Place& place);
  bool cannot_write(const Place& at, const std::string& why);
  int ended(const tape_image::Walk& walk, const tape_image::TapeReader& reader, bool last);
  bool write_failed();
  // Says what is wrong where, in the image being read; returns false.
  bool refuse(const std::string& what, int status);
  std::string place(std::uint64_t file, std::uint64_t record, std::uint64_t offset) const;

  const Options& options_;
  const Tuning& tuning_;
  OutputSink& out_;
  OutputSink& err_;
  Hold& hold_;
  bool as_is_ = false;
  std::unique_ptr<Target> target_;  // the image being written, if one is
  bool framed_ = false;             // whole records are copied as framed: the same framing
  tape_image::Framing framing_ = tape_image::Framing::simh;  // the input's
  std::string name_;                                         // the image being read, for messages
  tape_image::P7bSource* dump_ = nullptr;                    // its decoder, if it is a P7B dump
  std::uint64_t held_ = 0;                                   // tape marks read and not yet written
  std::uint64_t file_ = 1;       // the reel's tape file that the next item is in
  bool file_has_items_ = false;  // items have been read in it
  bool wrote_file_ = false;      // a tape file has been written whole
  bool writing_ = false;         // a record is being written a piece at a time
  Record begun_{};               // that record
  int status_ = status_ok;       // of the failure that stopped the walk
  int damage_ = status_ok;       // of the damage written as bad records, going on
};

std::string Copier::place(std::uint64_t file, std::uint64_t record, std::uint64_t offset) const {
  std::string where = name_ + ": " + tape_image::record_name(file, record);
  // A dump's offsets are those of its frames, where they are still known.
  if (dump_ != nullptr) offset = dump_->dump_offset_of(offset);
  if (offset != ~std::uint64_t{0}) where += " at " + std::to_string(offset);
  return where;
}

bool Copier::refuse(const std::string& what, int status) {
  status_ = say(err_, what, status);
  return false;
}

bool Copier::write_failed() {
  if (status_ != status_ok) return true;
  if (target_ && target_->records().failure().error != 0) {
    say_hold_failed(err_, "reelcopy", hold_, target_->records().failure());
    status_ = status_write_failed;
    return true;
  }
  return false;
}

int Copier::open_output() {
  if (!options_.split.empty()) return status_ok;
  if (options_.output == "-") {
    target_ = std::make_unique<Target>(out_, hold_, options_, tuning_);
  } else {
    const int fd = ::open(options_.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
      return say(err_, "cannot write " + options_.output + reason(errno), status_write_failed);
    target_ = std::make_unique<Target>(fd, hold_, options_, tuning_);
  }
  return status_ok;
}

bool Copier::open_split() {
  char number[24];
  std::snprintf(number, sizeof number, ".%03llu", static_cast<unsigned long long>(file_));
  const std::string path = options_.split + number;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return refuse("cannot write " + path + reason(errno), status_write_failed);
  target_ = std::make_unique<Target>(fd, hold_, options_, tuning_);
  return true;
}

// Ends the tape file being read with a tape mark: written where the file is; a split one's
// image is then a reel of its own, its recorded tape ended.
bool Copier::end_file() {
  if (selected()) {
    if (!options_.split.empty()) {
      if (!target_ && !open_split()) return false;
      target_->image().tape_mark();
      target_->image().tape_mark();
      if (const int error = finish_target(); error != 0) {
        status_ = say(err_, "error writing " + options_.split + reason(error), status_write_failed);
        return false;
      }
    } else {
      target_->image().tape_mark();
    }
    wrote_file_ = true;
  }
  ++file_;
  file_has_items_ = false;
  return !write_failed();
}

// An item follows: the tape marks held end the files before it.
bool Copier::item_begins() {
  for (; held_ > 0; --held_)
    if (!end_file()) return false;
  file_has_items_ = true;
  if (!options_.split.empty() && selected() && !target_) return open_split();
  return true;
}

bool Copier::cannot_write(const Place& at, const std::string& why) {
  return refuse(place(at.file, at.record, at.offset) + ": cannot be written as " +
                    std::string(tape_image::name_of(options_.to)) + ": " + why,
                status_write_failed);
}

bool Copier::records(Run& run) {
  std::uint64_t number = run.first().record;
  // Records framed as the output frames them are copied as they are, counts, data and pad, all
  // those in a row at once.
  const std::uint8_t* framed_from = nullptr;
  const std::uint8_t* framed_to = nullptr;
  run.take(tape_image::largest_record, [&](const std::uint8_t* data, std::uint32_t size) {
    const Place at{file_, number++, run.offset_of(data)};
    if (!item_begins()) return false;
    if (!selected()) return true;
    ImageWriter& image = target_->image();
    if (framed_) {
      if (framed_from == nullptr) framed_from = data - 4;
      framed_to = data - 4 + tape_image::record_bytes(size, framing_);
      return true;
    }
    if (const std::string why = image.cannot_carry(size, false); !why.empty())
      return cannot_write(at, why);
    image.begin(size);
    if (const std::string why = image.data({data, size}); !why.empty()) {
      image.drop();
      return cannot_write(at, why);
    }
    image.end(false);
    return true;
  });
  if (framed_from != nullptr)
    target_->image().framed({framed_from, static_cast<std::size_t>(framed_to - framed_from)});
  return status_ == status_ok && !write_failed();
}

std::uint64_t Copier::begin_record(const Record& record) {
  if (!item_begins()) return tape_image::stop_walk;
  if (!selected()) return 0;
  if (const std::string why = target_->image().cannot_carry(record.size, record.bad);
      !why.empty()) {
    cannot_write(record.place, why);
    return tape_image::stop_walk;
  }
  begun_ = record;
  writing_ = true;
  target_->image().begin(record.size);
  return record.size;
}

bool Copier::piece(std::span<const std::uint8_t> bytes, std::size_t& used) {
  used = bytes.size();
  if (const std::string why = target_->image().data(bytes); !why.empty()) {
    target_->image().drop();
    writing_ = false;
    return cannot_write(begun_.place, why);
  }
  return !write_failed();
}

bool Copier::end_record(const Record& record) {
  if (!writing_) return true;
  writing_ = false;
  ImageWriter& image = target_->image();
  if (record.bad && !begun_.bad) {  // its trailing count differs, and the copy goes on
    if (const std::string why = image.cannot_carry(record.size, true); !why.empty()) {
      image.drop();
      return cannot_write(record.place, "its trailing count differs, and " + why);
    }
    image.end(true);
    say(err_,
        place(record.place.file, record.place.record, record.place.offset) +
            ": its trailing count differs: written as a bad record",
        status_ok);
    damage_ = std::max<int>(damage_, status_unequal_counts);
    return !write_failed();
  }
  image.end(record.bad);
  return !write_failed();
}

bool Copier::control_word(std::uint32_t word, const Place& at) {
  if (!item_begins()) return false;
  if (!selected() || options_.drop_gaps) return true;
  ImageWriter& image = target_->image();
  if (!image.carries_gaps()) {
    if (word != tape_image::erase_gap_word) return true;  // the end of the medium: its end
    return refuse(name_ + ": an erase gap at offset " + std::to_string(at.offset) + ", which " +
                      std::string(tape_image::name_of(options_.to)) +
                      " cannot carry: --drop-gaps drops them",
                  status_write_failed);
  }
  image.control_word(word);
  return !write_failed();
}

int Copier::copy(const tape_image::Opener& open, const std::string& name, bool last) {
  name_ = name == "-" ? "standard input" : name;
  errno = 0;
  std::unique_ptr<tape_image::InputSource> raw = open(name);
  if (!raw) return say(err_, "cannot open " + name + reason(errno), status_open_failed);
  // A dump's long records wait in a hold of their own: the output's holds its own records.
  Hold dump_hold("reelcopy", tuning_.hold_memory);
  // A TPC file is read padded or not as it reads cleanly, walked first; a pipe, padded.
  Format from = options_.from;
  if (from == Format::tpc && raw->known_size() > 0) {
    from = tape_image::tpc_padding([&] { return open(name); });
    if (from == Format::tpc_nopad)
      say(err_, name_ + ": odd-length records without a pad byte: read as tpc-nopad", status_ok);
  }
  tape_image::ImageInput input(std::move(raw), from, options_.parity, dump_hold);
  dump_ = input.dump();
  tape_image::Reading reading = tape_image::reading_of(from);
  reading.unequal_goes_on = options_.keep_going;
  framing_ = reading.framing;
  framed_ = !options_.data && reading.count_bytes == 4 && reading.trailer && !reading.swapped &&
            (options_.to == Format::simh || options_.to == Format::e11) &&
            tape_image::reading_of(options_.to).framing == reading.framing;
  tape_image::TapeReader reader(input.source(), tuning_.read_size);
  tape_image::Walk walk(reading);
  tape_image::walk_image(reader, walk, *this);
  if (walk.stopped()) return status_ != status_ok ? status_ : status_write_failed;
  return ended(walk, reader, last);
}

// Acts on how the walk of the image being read ended: its last tape files ended, or the copy
// stopped where it breaks, after the last whole record. Returns the status.
int Copier::ended(const tape_image::Walk& walk, const tape_image::TapeReader& reader, bool last) {
  const Ending& ending = walk.ending();
  // The copy stops at the fault, after every whole item before it: the tape marks held too.
  const auto broken = [&](const std::string& what, int status) {
    if (writing_) target_->image().drop();
    writing_ = false;
    for (; held_ > 0; --held_)
      if (!end_file()) break;
    return say(err_, what, status);
  };
  switch (ending.kind) {
    case EndKind::empty:
    case EndKind::after_tape_mark:
    case EndKind::after_record:
    case EndKind::after_gap:
    case EndKind::zero_fill:
      break;
    case EndKind::end_of_medium:
      if (!control_word(tape_image::end_of_medium_word, walk.place())) return status_;
      if (ending.bytes > 0)
        return broken(name_ + ": " + tape_image::count_of(ending.bytes, "byte") +
                          " after the end-of-medium marker at offset " + std::to_string(ending.at) +
                          ": not copied",
                      status_read_failed);
      break;
    case EndKind::stray_bytes:
      // Zero bytes after the recorded tape's end, too few for a word: the fill of a copy.
      if (options_.zero_fill && held_ >= 2 && walk.stray_value() == 0) break;
      return broken(name_ + ": " + tape_image::count_of(ending.bytes, "stray byte") +
                        " at offset " + std::to_string(ending.at) +
                        ", where a count should begin: not copied",
                    status_read_failed);
    case EndKind::half_gap:
    case EndKind::reserved_word:
    case EndKind::placeholder:
      return broken(name_ + ": the control word " + tape_image::hex_word(ending.word) +
                        " at offset " + std::to_string(ending.at) +
                        ", past which nothing can be read safely: the copy stops there",
                    status_read_failed);
    case EndKind::read_error:
      return broken(name_ + ": read error at offset " +
                        std::to_string(reader.offset() + reader.loaded().size()) +
                        reason(reader.error()),
                    status_read_failed);
    case EndKind::in_data:
    case EndKind::before_pad:
    case EndKind::in_trailer:
    case EndKind::unequal_counts: {
      const std::string what = place(ending.file, ending.record, ending.at) +
                               (ending.bad ? ", a bad record: " : ": ") +
                               tape_image::how_broken(ending);
      // Going on, what there is of the record is written as a bad record; a record cut
      // short has nothing after it.
      if (options_.keep_going && writing_ && target_->image().written() > 0 &&
          target_->image().cannot_carry(target_->image().written(), true).empty()) {
        writing_ = false;
        target_->image().end(true);
        say(err_, what + ": written as a bad record", status_ok);
        damage_ = std::max(damage_, tape_image::status_of(ending));
        if (write_failed()) return status_;
        break;
      }
      return broken(what, tape_image::status_of(ending));
    }
  }
  // The marks that end the image: as they are in a copy of the image itself (the fill of a
  // copy dropped, if asked), else one that ends its last file.
  if (as_is_) {
    if (options_.zero_fill) held_ = std::min<std::uint64_t>(held_, 2);
    for (; held_ > 0; --held_)
      if (!end_file()) return status_;
  } else {
    const bool ends_file = held_ > 0 || file_has_items_;
    held_ = 0;
    if (ends_file && !end_file()) return status_;
    if (last && wrote_file_ && options_.split.empty()) {
      target_->image().tape_mark();  // the end of the recorded tape
      if (write_failed()) return status_;
    }
  }
  return status_ok;
}

int Copier::finish_target() {
  const int error = target_->finish();
  if (const std::uint64_t zeros = target_->image().zero_codes(); zeros > 0)
    say(err_,
        tape_image::count_of(zeros, "frame") + " of code 0 written to an even-parity dump, " +
            "which no tape in BCD mode can carry (a 1401 tape holds the blank as code 16)",
        status_ok);
  target_.reset();
  return error;
}

int Copier::finish() {
  if (options_.files_chosen && status_ == status_ok && file_ <= options_.first_file)
    say(err_, "the images end before tape file " + std::to_string(options_.first_file), status_ok);
  if (!target_) return std::max(status_, damage_);
  const int error = finish_target();
  if (error == 0) return std::max(status_, damage_);
  if (status_ != status_ok) return status_;
  const std::string what = options_.output == "-" ? "standard output" : options_.output;
  say_write_failed(err_, "reelcopy", what, error);
  return status_write_failed;
}

// Returns the inode of the file `name`, if there is one: an output that is one of the inputs
// would be cut before it was read.
std::optional<std::pair<dev_t, ino_t>> file_identity(const std::string& name) {
  struct stat st {};
  if (name == "-" || ::stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return std::pair{st.st_dev, st.st_ino};
}

}  // namespace

int run(const std::vector<std::string>& args, const tape_image::Opener& open, OutputSink& out,
        OutputSink& err, const Tuning& tuning) {
  const CommandLine command = parse_command_line(args);
  if (command.action != CommandLine::Action::run)
    return answer_command_line(command, "reelcopy", help_text(), version_text(), out, err);
  const Options& options = command.options;
  if (const auto output = file_identity(options.output))
    for (const std::string& image : options.images)
      if (file_identity(image) == output)
        return say(err,
                   "the output " + options.output + " is the image " + image +
                       ": it would be cut before it was read",
                   status_usage);

  Hold hold("reelcopy", tuning.hold_memory);
  Copier copier(options, tuning, out, err, hold);
  int status = copier.open_output();
  for (std::size_t k = 0; status == status_ok && k < options.images.size(); ++k)
    status = copier.copy(open, options.images[k], k + 1 == options.images.size());
  const int ended = copier.finish();
  return status != status_ok ? status : ended;
}

}  // namespace reel::reelcopy
