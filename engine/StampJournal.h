// What a run's journal is told around each stamp, so that the stamp can be
// undone (the headless command's --journal keeps it: run/Journal.h).
#pragma once

#include <string>

#include "platform/ExactTime.h"

class IStampJournal {
 public:
  virtual ~IStampJournal() = default;
  // Just before `file`'s last-write time is changed from `old` to `asked`;
  // false when that could not be recorded, which stops the stamp.
  virtual bool BeforeStamp(const std::wstring& file, const veltrano::ExactTime& old,
                           const veltrano::ExactTime& asked) = 0;
  // After the stamp: the time read back from the file (nothing is said when
  // it could not be read; an undo then takes the time asked for).
  virtual void AfterStamp(const std::wstring& file, const veltrano::ExactTime& readBack) = 0;
  // A line could not be written; no file has been stamped since.
  virtual bool Failed() const = 0;
};
