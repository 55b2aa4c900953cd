#pragma once
// What the engine's entities ask of a mesh parent through SceneContentServices: the
// replication of its root animation, the unmount on a parent change and the re-mount.
#include <cstdint>

class Entity;

// MeshEntity::SetAnimationReplication (the mesh copies its root animation into two of its
// own replicated properties each frame, or stops); false when the entity is no mesh.
bool SetMeshAnimationReplication(Entity* entity, bool enable, uint32_t animation, uint32_t progress);
// MeshEntity::UnmountEntity on the child's old mesh parent.
void UnmountFromMesh(Entity* meshParent, Entity* child);
// The re-mount: the child's record (bone name, offset) replaces any mount it had here.
void RemountOnMesh(Entity* meshParent, Entity* child);
