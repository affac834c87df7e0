// The worker pool's job base class.

#include "base/thread/job.h"

namespace KavV3Base {

TJob::~TJob() = default;

std::int32_t TJob::Execute() { return 0; }

std::int32_t TJob::OnFinished() { return 0; }

}  // namespace KavV3Base
