#include "passes.h"

#include <string>

namespace quorvane {

bool MergePasses::run(Mode mode, std::FILE* part) {
  return mode == Mode::kInTurn ? in_turn() : side_by_side(part);
}

// Nothing is ever seeked: the survey ends before the header is written.
bool MergePasses::in_turn() {
  Working w;
  TokenStream& survey = site_.stream(Pass::kSurvey);
  survey_pass(survey, w, extents_, console_);
  const std::uint64_t surveyed = survey.position();
  if (!site_.end_of_pass(Pass::kSurvey, Fault{})) return false;
  first_report(extents_, console_);
  site_.console_written();
  write_header(extents_, f3_);
  TokenStream& first = site_.stream(Pass::kFirstCopy);
  copy_first_input(first, f3_, w, console_);
  first_drawn_ = w.drawn;
  if (!w.fault && first.error() == 0 && first.position() != surveyed) site_.readings_differ();
  if (!site_.end_of_pass(Pass::kFirstCopy, w.fault)) return false;
  site_.output_written(f3_.error());
  site_.console_written();
  return second_copy(w, console_);
}

// The copy of the second input here, after the first input's.
bool MergePasses::second_copy(Working& w, Console& console) {
  copy_second_input(site_.stream(Pass::kSecondCopy), f3_, w, console);
  curves_drawn_ = w.drawn;
  return site_.end_of_pass(Pass::kSecondCopy, w.fault);
}

bool MergePasses::side_by_side(std::FILE* part) {
  Working w;
  if (part != nullptr) {
    second_ = std::make_unique<SecondCopyThread>(site_.stream(Pass::kSecondCopy, /*beside=*/true),
                                                 part, console_);
  }
  // The first input is read once: its copy works out what its survey finds,
  // and writes the survey's text as it goes, its own text held until then.
  Console copying(console_, [] { return false; });
  SurveyShadow shadow(console_, f3_);
  TokenStream& first = site_.stream(Pass::kFirstCopy);
  copy_first_input(first, f3_, w, copying, &shadow);
  first_drawn_ = w.drawn;
  TokenStream& survey = site_.stream(Pass::kSurvey);
  if (shadow.holds()) {
    extents_ = shadow.extents();
  } else {
    // The survey reads this drawing otherwise: it is run after all, from
    // where its text stopped.
    Working surveying;
    survey_pass(survey, surveying, extents_, console_, shadow.shown());
    if (!w.fault && first.error() == 0 && first.position() != survey.position()) {
      site_.readings_differ();
    }
  }
  if (!site_.end_of_pass(Pass::kSurvey, Fault{})) return false;
  first_report(extents_, console_);
  site_.console_written();
  copying.release();
  if (!site_.end_of_pass(Pass::kFirstCopy, w.fault)) return false;
  // The header was written with the extents known at the first entity, or
  // not at all for a drawing without one.
  const std::string final_header = header_text(extents_);
  if (shadow.header().empty()) {
    write_header(extents_, f3_);
  } else if (final_header != shadow.header()) {
    site_.output_written(f3_.replace_front(shadow.header().size(), final_header));
  }
  site_.output_written(f3_.error());
  site_.console_written();

  if (!second_) return second_copy(w, console_);
  second_->let_write();
  const int part_error = second_->finish();
  curves_drawn_ = second_->drawn();
  if (!site_.end_of_pass(Pass::kSecondCopy, second_->fault())) return false;
  if (part_error == 0) {
    site_.output_written(f3_.append_file(second_->part()));
    second_.reset();
    return true;
  }
  // The part could not be written whole: the copy is made again from the
  // input's start, its console text already shown.
  second_.reset();
  Console shown(console_, [] { return false; });
  return second_copy(w, shown);
}

}  // namespace quorvane
