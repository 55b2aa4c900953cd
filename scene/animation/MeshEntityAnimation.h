#pragma once
// The engine's mesh-animation entries (gEngineServices): Animate and the replication
// upkeep for the Game's mesh lists, the unmount on a parent change and the re-mount.
void InstallMeshAnimationHooks();
void ClearMeshAnimationHooks();
