// The state scripts read from an entity: its multiplayer role, ghost mode and
// replication flags.
#include <gtest/gtest.h>

#include "EntityTestSupport.h"

namespace {

class EntityScriptStateTest : public EntityTest {};

TEST_F(EntityScriptStateTest, RoleFollowsTheCreationFlags) {
    const struct {
        uint32_t creationFlags;
        bool entity, proxy, authority;
    } cases[] = {
        {0, false, false, false},
        {ENTITYCREATION_MULTIPLAYER_AUTHORITY, true, false, true},
        {ENTITYCREATION_MULTIPLAYER_PROXY, true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.creationFlags);
        Entity* e = Make(nullptr, c.creationFlags);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->IsMultiplayerEntity(), c.entity);
        EXPECT_EQ(e->IsMultiplayerProxy(), c.proxy);
        EXPECT_EQ(e->IsMultiplayerAuthority(), c.authority);
    }
}

TEST_F(EntityScriptStateTest, GhostModeAndReplicationFlagsReadTheirOwnBits) {
    Entity* e = Make();
    e->RaiseFlag(ENTITYFLAG_HIDDEN | ENTITYFLAG_SELECTED, false);
    EXPECT_FALSE(e->IsGhostMode());
    e->RaiseFlag(ENTITYFLAG_GHOSTMODE, false);
    EXPECT_TRUE(e->IsGhostMode());
    e->ClearFlag(ENTITYFLAG_GHOSTMODE, false);
    EXPECT_FALSE(e->IsGhostMode());

    EXPECT_EQ(e->CheckReplicationFlag(0xFFFFFFFFu), 0u);
    e->RaiseReplicationFlag(ENTITYREPLICATION_ONLY_OWNER_RELEVANT | 4, false);
    EXPECT_EQ(e->CheckReplicationFlag(ENTITYREPLICATION_ONLY_OWNER_RELEVANT), ENTITYREPLICATION_ONLY_OWNER_RELEVANT);
    EXPECT_EQ(e->CheckReplicationFlag(0xFFFFFFFFu), ENTITYREPLICATION_ONLY_OWNER_RELEVANT | 4u);
    EXPECT_EQ(e->CheckReplicationFlag(2), 0u);
}

}  // namespace
