#pragma once
// The running Game as the libraries below it see it (GameServices), for their tests: its
// own four timers, screen slots and delegate, installed while the object lives.
#include "engine/services/GameServices.h"
#include "engine/services/GameTimer.h"

class TestGameServices : public GameServices {
public:
    TestGameServices() { SetGameServices(this); }
    ~TestGameServices() override {
        if (&GetGameServices() == this) SetGameServices(nullptr);
    }
    TestGameServices(const TestGameServices&) = delete;
    TestGameServices& operator=(const TestGameServices&) = delete;

    GameTimer* GetGameTimer() override { return &gameTimer; }
    GameTimer* GetGameplayTimer() override { return &gameplayTimer; }
    GameTimer* GetSmoothGameTimer() override { return &smoothGameTimer; }
    GameTimer* GetSmoothGameplayTimer() override { return &smoothGameplayTimer; }
    UIScreen* GetScreen(GameScreenSlot slot) const override { return screens[slot]; }
    void SetScreen(GameScreenSlot slot, UIScreen* screen) override { screens[slot] = screen; }
    GameDelegate* GetDelegate() const override { return delegate; }

    GameTimer gameTimer, gameplayTimer, smoothGameTimer, smoothGameplayTimer;
    UIScreen* screens[GAMESCREEN_COUNT] = {};
    GameDelegate* delegate = nullptr;
};
