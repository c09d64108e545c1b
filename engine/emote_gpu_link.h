// The model players meet the GPU device: the device's hooks for models
// (render a model layer, release the players before a reset, the camera
// and the driver after the device is made) and the device lent to the
// model player library.
#pragma once

namespace zk {

void RegisterEmoteGpuLink();

}  // namespace zk
