#pragma once
// GameEntityListener: the game's entity-creation listener. The entity manager tells it of
// every entity it finishes creating, and entity scripts (Entity::ExecuteScript, a
// compound's "InitCompoundEntity") run only while a listener exists and allows them. The
// game's listener does nothing with a new entity and always allows scripts.
//
// The game's start-up table makes gGameEntityListener; the Game's services answer from it.
//
// Main thread only.
class Entity;

class GameEntityListener {
public:
    void OnEntityCreated(Entity*) {}
    bool AllowsScripts() const { return true; }
};

// Null before start-up and after shutdown.
extern GameEntityListener* gGameEntityListener;
