#include "net/Player.h"

#include "net/base/NetConstants.h"

Player::Player(bool isLocal, uint32_t playerId) : local(isLocal ? 1 : 0), controllerIndex(kInitialControllerIndex), id(playerId) {}

Player::~Player() = default;

void Player::ResetSession() {
    connected = 0;
    reliableSendId = 0;
    reliableAckId = 0;
}

void Player::Delete(Player* player) {
    if (!player) return;
    for (Entity* e = Entity::FirstLive(); e; e = e->NextLive())
        if (e->GetPlayerOwner() == player) e->SetPlayerOwner(nullptr);
    player->SetPlayerControllerRaw(nullptr);
    player->Destroy();
}
