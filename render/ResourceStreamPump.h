#pragma once
// The resource loader's stream pump as the render stream and the resource jobs see it.
// The loader (render/resources, above this layer) registers its pump when its global
// object is made and removes it when that object is destroyed; without one, pumping does
// nothing.
//
// Threads: registration on the main thread while no worker runs; pumping on any thread.

// On the loader's own thread, runs its pending stream reads, so that a wait there keeps
// the streams it waits for moving; on any other thread nothing.
void PumpResourceStreams();
void SetResourceStreamPump(void (*pump)());
