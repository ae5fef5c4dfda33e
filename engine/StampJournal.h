// What a run's journal is told around each stamp, so that the stamp can be
// undone (the headless command's --journal keeps it: run/Journal.h).
#pragma once

#include <optional>
#include <string>

#include "platform/ExactTime.h"

class IStampJournal {
 public:
  virtual ~IStampJournal() = default;
  // Just before `file`'s last-write time is changed from `old` to `asked`;
  // false when that could not be recorded, which stops the stamp.
  virtual bool BeforeStamp(const std::wstring& file, const veltrano::ExactTime& old,
                           const veltrano::ExactTime& asked) = 0;
  // After the stamp: the time read back from the file (none when it could
  // not be read).
  virtual void AfterStamp(const std::wstring& file,
                          const std::optional<veltrano::ExactTime>& readBack) = 0;
};
