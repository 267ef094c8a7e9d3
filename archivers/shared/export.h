// How the archiver libraries export their C entry points: everything else in them is built
// hidden, so only these names form each library's interface.
#pragma once

#define TAVRUN_ARC_EXPORT extern "C" __attribute__((visibility("default")))
