#include "link/DisplayPoll.h"

namespace zorvid {

bool TPollOutcome::Silent() const {
  return segmentsRead.kind == TOutcomeKind::kNoAnswer &&
         temperatureRead.kind == TOutcomeKind::kNoAnswer;
}

TPollOutcome PollDisplay(IZorvid& display) {
  TPollOutcome poll;
  poll.segmentsRead = SendStep(display, TStep::kReadSegments, 1,
                               [&] { return display.GetDisplayData(poll.segments); });
  if (poll.segmentsRead.Ok())
    if (const auto invalid = CheckSegments(poll.segments))
      poll.segmentsRead = InvalidAnswer(TStep::kReadSegments, display.GetAddress(), *invalid);
  poll.temperatureRead = SendStep(display, TStep::kReadTemperature, 1,
                                  [&] { return display.GetTemperature(poll.degrees); });
  return poll;
}

}  // namespace zorvid
