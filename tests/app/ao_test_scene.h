// ao_test_scene.h - the benchmark's scene and camera as the kernel tests use
// them: the plane and spheres that Setup sets, and the primary-ray
// coordinates of the 256 x 256 picture's sub-samples, a batch at a time.

#pragma once

#include "app/ao_primary_rays.h"
#include "app/ao_scene.h"

namespace AoBench {

inline const TPlane kPlane{{0.0f, 1.0f, 0.0f}, 0.5f};
inline const TSphere kSpheres[kSphereCount] = {
    {{-2.0f, 0.0f, -3.5f}, 0.5f}, {{-0.5f, 0.0f, -3.0f}, 0.5f}, {{1.0f, 0.0f, -2.2f}, 0.5f}};

// The camera coordinates of the kPrimaryBatch sub-samples of picture row
// `row` from sub-sample `first` on (4 per pixel, 2 x 2, in the render's
// order), as the render computes them for a 256 x 256 picture.
inline void CameraBatch(int row, int first, float (&px)[kPrimaryBatch], float (&py)[kPrimaryBatch]) {
    for (int i = 0; i < kPrimaryBatch; ++i) {
        const int sub = first + i;
        const float x = static_cast<float>(sub / 4);
        const float u = static_cast<float>(sub % 2);
        const float v = static_cast<float>(sub / 2 % 2);
        px[i] = (u * 0.5f + x - 128.0f) * (1.0f / 128.0f);
        py[i] = (v * 0.5f + static_cast<float>(row) - 128.0f) * (1.0f / 128.0f);
    }
}

}  // namespace AoBench
