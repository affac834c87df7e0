// ao_scene.cpp - the look-at frame of the AO test scene.

#include "app/ao_scene.h"

using AoBench::Cross;
using AoBench::Dot;
using AoBench::Normalized;

void LookAt(TMatrix4& m, TVec3 target, TVec3 up) {
    const TVec3 eye = m.Row(3);
    const TVec3 z = -Normalized(target - eye);

    TVec3 xp = Cross(z, up);
    const float xLength2 = Dot(xp, xp);
    if (xLength2 > 0.0f) {
        xp = xp * (1.0f / std::sqrt(xLength2));
    } else {
        // up is parallel to Z: any perpendicular will do, pick it by orientation.
        xp = Dot(up, z) < 0.0f ? TVec3{-1.0f, 0.0f, 0.0f} : TVec3{1.0f, 0.0f, 0.0f};
    }
    const TVec3 yp = Normalized(Cross(xp, z));

    m.SetRow(0, -xp, 0.0f);
    m.SetRow(1, yp, 0.0f);
    m.SetRow(2, z, 0.0f);
    m.SetRow(3, eye, 1.0f);
}
