// The progress record a load sends to its display: the plan's step list, the
// start and end of each step, transfer texts and the final result. The serial
// engine and the switch path both report through it.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

namespace fwl {

// One step of a plan as the display lists it.
struct LoadStep {
  QString name;
  int byteCount = 0;  // size of the file a transfer step fetches; 0 otherwise
  int blink = 1;      // 1 command step (the display blinks it), 0 transfer step
};

// A step whose name begins with this text is a transfer step.
inline constexpr char kTransferStepPrefix[] = "Transfer ";

inline constexpr int kStepStateError = 2;
inline constexpr int kStepStateOk = 3;

struct LoadProgressEvent {
  enum Kind : int { kPlan = 0, kUpdate = 1, kFinal = 2 };
  enum Flag : int {
    kValid = 0x01,
    kStepIndex = 0x04,
    kStepList = 0x08,
    kText = 0x10,
    kState = 0x20,
    // The step that ends shows `stateText` instead of its state word (a
    // check that could not be made ends OK with the reason).
    kStateText = 0x40,
    // A check of the current step's image: `checkExpected` is the loader's
    // CRC-32 of the file, `checkFound` the unit's. Sent before the step ends.
    kCheck = 0x80,
  };
  // Flag combinations the senders use.
  static constexpr int kPlanFlags = kValid | kStepList;            // 0x09
  static constexpr int kStepFlags = kValid | kStepIndex | kState;  // 0x25
  static constexpr int kTextFlags = kValid | kText;                // 0x11
  static constexpr int kFinalFlags = kValid | kState;              // 0x21

  int kind = kUpdate;
  int flags = 0;
  std::vector<LoadStep> steps;  // kPlan: the whole plan, in order
  int stepIndex = 0;            // kUpdate with kStepIndex: the step that begins
  QString text;                 // kUpdate with kText: progress text of the current step
  int state = 0;                // kStepStateOk or kStepStateError
  QString stateText;            // with kStateText
  uint32_t checkExpected = 0;   // with kCheck
  uint32_t checkFound = 0;      // with kCheck
};

// The receiver of progress records and the owner's user value. The record is
// only valid during the call; the receiver copies what it keeps.
using LoadProgressCallback = std::function<void(const LoadProgressEvent&, void* user)>;

}  // namespace fwl
