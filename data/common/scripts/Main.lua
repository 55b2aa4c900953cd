-- The sample game's main script. The game's delegate runs it at pre-init, once its
-- packages are open; it loads the game's scripts (Game/*.lua) and answers the events the
-- delegate forwards: Game:<event> for the Game's events and ZKRGameDelegate:<event> (found
-- from the delegate's own class) for the frame's and the network's. The script host logs
-- each call of an event that no function answers, so every event has its function here,
-- empty where the game does nothing.
--
-- At the Game's init the script reads the scenario (Game/Flow.lua), adds the sound
-- entries and builds the sample's two screens from the UI recipe templates: "UI/MainMenu"
-- (a panel, a localised title and the "StartButton", over the scene) as the active screen,
-- and "UI/LoadingScreen" (a full-screen picture that fades in) for scene switches; and it
-- makes the camera look at the sample scene. Once the first scene has loaded it plays the
-- intro video full screen and keeps the menu hidden until the video has ended. A click on
-- the start button (which the Game's screen routing hands to the button, and the button
-- to the OnClick of its script class, MenuStartButton), or Enter, logs "Sample: Start
-- pressed", blends the menu out and, once it has gone, starts the mission. A scenario
-- that plays the mission unattended shows neither the intro nor the menu.

local GAME_SCRIPTS = {"Flow", "Profile", "Audio", "Hud", "Squad", "Towers", "Mission", "Controls", "Versus"}
for _, name in ipairs(GAME_SCRIPTS) do
    gLua:ExecuteFile("Game/" .. name, "common/scripts")
end

local MENU_RECIPE = "UI/MainMenu"
local LOADING_RECIPE = "UI/LoadingScreen"
local START_BUTTON = "StartButton"
-- The loading screen's picture, transparent in its recipe: it fades in when shown.
local LOADING_PICTURE = "Background"
local LOADING_FADE_SECONDS = 0.5
local MENU_HIDE_SECONDS = 0.3
local START_AFTER_HIDDEN_FRAMES = 10
-- The scene camera (world units, y up): it stands at EYE and looks along +z at TARGET, the
-- front of the sample scene: the "Beacon" effect at (0, 0, -60) on its right, a crate at
-- (-12, 0, -56) and the smoke beside it on its left, all clear of the menu's panel in the
-- middle. FOV: the vertical field of view in degrees.
local CAMERA_EYE = {-6, 6, -72}
local CAMERA_TARGET = {-6, 4, -58}
local CAMERA_FOV = 50
local INTRO_VIDEO = "Intro"
local INTRO_FOLDER = "videos"

-- Weak references: the engine releases the screens at the Game's close.
local menu = LuaUIPointer:Instance()
local startButton = LuaUIPointer:Instance()
-- The start button's rectangle in UI units (its recipe's layout under the menu's root),
-- for the log line that tells where it shows.
local buttonLow, buttonHigh
local sceneLoaded = false
local introChecked = false
local introRunning = false
local buttonLogged = false
local startPressed = false
local hiddenFrames = 0

local function RecipeVector(element, propertyName)
    local v = Vector:Instance(0, 0, 0, 0)
    element:LoadRecipeVectorProperty(v, propertyName, nil)
    return v
end

-- The start button's script class: the Game's screen routing calls OnClick when the
-- button is clicked.
gLua:RegisterClass("MenuStartButton", "UIPicture")

local function PressStart()
    local screen = menu:Get()
    if startPressed or screen == nil or not screen:IsVisible() then
        return
    end
    gConsole:Print("Sample: Start pressed")
    screen:BlendOutAndHide(MENU_HIDE_SECONDS, UIACTIONFLAG_SYSTEMTIME, 0)
    startPressed = true
end

function MenuStartButton:OnClick()
    PressStart()
end

local function BuildMenu()
    -- The scene shows around the menu's panel, and through it.
    local screen = Hud.ScreenFromRecipe(MENU_RECIPE, false)
    if screen == nil then
        return
    end
    local button = screen:FindElementByName(START_BUTTON)
    if button ~= nil then
        button:SetLuaClass("MenuStartButton")
        startButton:Set(button)
    end
    gGame:SetActiveUIScreen(screen)
    menu:Set(screen)
    if button == nil then
        return
    end
    local position, anchor, size = RecipeVector(button, "Position"), RecipeVector(button, "Anchor"),
        RecipeVector(button, "Size")
    buttonLow = {position.x + anchor.x, position.y + anchor.y}
    buttonHigh = {buttonLow[1] + size.x, buttonLow[2] + size.y}
end

local function BuildLoadingScreen()
    local screen = Hud.ScreenFromRecipe(LOADING_RECIPE, true)
    if screen == nil then
        return
    end
    screen:SetBlendingWhenUsedAsLoadingScreen(true)
    local picture = screen:FindElementByName(LOADING_PICTURE)
    if picture ~= nil then
        picture:ChangeLinearColor(LOADING_FADE_SECONDS, 1, 1, 1, 1, UIACTIONFLAG_SYSTEMTIME, 0)
    end
    gGame:SetLoadingUIScreen(screen)
end

local function SetSceneCamera()
    local controller = gGame:GetCameraController()
    if controller == nil then
        return
    end
    local camera = controller:AddNewSubcontroller(CAMERASUBCONTROLLER_BASE)
    -- Turned about y towards the target, then pitched down to it.
    local dx = CAMERA_TARGET[1] - CAMERA_EYE[1]
    local dy = CAMERA_TARGET[2] - CAMERA_EYE[2]
    local dz = CAMERA_TARGET[3] - CAMERA_EYE[3]
    local yaw = math.deg(math.atan2(dx, dz))
    local pitch = math.deg(math.atan2(-dy, math.sqrt(dx * dx + dz * dz)))
    camera:SetPosition(Vector:Instance(CAMERA_EYE[1], CAMERA_EYE[2], CAMERA_EYE[3], 1))
    camera:SetRotation(pitch, 0, yaw)
    camera:SetFOV(CAMERA_FOV)
    controller:SetCurrentSubcontroller(camera, 0, 0)
end

-- The intro hides the menu while it plays; without its file the menu shows at once (a
-- missing file would only end the play with an error line).
local function StartIntro()
    local screen = menu:Get()
    if screen == nil or not Flow.ShowsMenu() or gVideoEngine == nil or not gConfigHelper:CheckIfFileExists(INTRO_VIDEO, "ogv", INTRO_FOLDER) then
        return
    end
    screen:Hide()
    gVideoEngine:Play(INTRO_VIDEO, INTRO_FOLDER, true, false, 1)
    introRunning = true
end

-- Logs the start button's rectangle in window pixels once the menu shows and the UI's
-- hit test finds the button in its middle, so that a click there reaches it.
local function LogStartButton(screen)
    local button = startButton:Get()
    if buttonLogged or buttonLow == nil or button == nil or not screen:IsVisible() then
        return
    end
    local low, high = Vector:Instance(0, 0, 0, 0), Vector:Instance(0, 0, 0, 0)
    if not (gGame:UIPointToScreenPoint(Vector:Instance(buttonLow[1], buttonLow[2], 0, 0), low) and
        gGame:UIPointToScreenPoint(Vector:Instance(buttonHigh[1], buttonHigh[2], 0, 0), high)) then
        return
    end
    local middle = Vector:Instance((low.x + high.x) / 2, (low.y + high.y) / 2, 0, 0)
    if screen:GetElementAt(middle, false, 0) ~= button:GetId() then
        return
    end
    buttonLogged = true
    local x0, y0 = Flow.WindowPixels(low)
    local x1, y1 = Flow.WindowPixels(high)
    gConsole:Print(string.format("Menu: StartButton at %d %d %d %d", x0, y0, x1, y1))
end

-- ---- The Game's events ----

function Game:OnInit()
    Flow.Init()
    Audio.Init()
    Controls.ShowPointer()
    if Flow.ShowsMenu() then
        BuildMenu()
    end
    BuildLoadingScreen()
    SetSceneCamera()
end

-- The intro is noticed by the next smooth tick, once the loading screen has gone.
function Game:OnAfterSwitchScene()
    sceneLoaded = true
    Flow.OnAfterSwitchScene()
end

function Game:OnAfterInit() end
function Game:OnClose() end
function Game:OnAfterClose() end
function Game:OnSwitchScene(sceneName) end
function Game:OnSwitchSceneAfterNetEntitiesDestroyed() end
function Game:OnDuringSwitchScene() end
function Game:OnAppActivate() end
function Game:OnAppDeactivate() end
function Game:OnInputConfigChanged() end
function Game:OnScreenResolutionChanged() end
function Game:OnXBoxLiveLoginFinished() end

-- ---- The delegate's frame events ----

function ZKRGameDelegate:OnSmoothTick()
    Flow.OnFrame()
    if sceneLoaded and not introChecked then
        introChecked = true
        StartIntro()
    end
    local screen = menu:Get()
    if screen == nil then
        return
    end
    if introRunning then
        if gVideoEngine:IsPlaying() then
            return
        end
        introRunning = false
        screen:Show()
    end
    if startPressed then
        -- The mission starts a few frames after the menu has blended out, so that the
        -- menu's last frame shows before the loading screen.
        if not screen:IsVisible() then
            hiddenFrames = hiddenFrames + 1
            if hiddenFrames >= START_AFTER_HIDDEN_FRAMES then
                startPressed = false
                Flow.StartMission()
            end
        end
        return
    end
    LogStartButton(screen)
    if gGame:IsKeyPressedForTheFirstTime(DIK_RETURN) then
        PressStart()
    end
end

function ZKRGameDelegate:CanSleep()
    return true
end

function ZKRGameDelegate:OnBigFrameTick()
    return true
end

function ZKRGameDelegate:OnTick()
    Flow.OnTick()
end

function ZKRGameDelegate:OnPauseTick()
    Flow.OnFrame()
end

function ZKRGameDelegate:OnAfterTick() end
function ZKRGameDelegate:OnTickInput() end
function ZKRGameDelegate:OnInputEvent(kind, value) end
function ZKRGameDelegate:OnQuit() end
function ZKRGameDelegate:OnCancelCurrentGame() end
function ZKRGameDelegate:OnGameCenterMatchingCompleted(success) end

-- ---- The network's events: the versus match's (Game/Versus.lua) ----

function ZKRGameDelegate:OnChatMessage(lobby, kind, text)
    Versus.OnChatMessage(lobby, kind, text)
end
function ZKRGameDelegate:OnLobbyUpdated()
    Versus.OnLobbyUpdated()
end
function ZKRGameDelegate:OnLobbyJoinRequested()
    Versus.OnLobbyJoinRequested()
end
function ZKRGameDelegate:OnLobbyGameStartRequest(map, hosted, ranked)
    Versus.OnLobbyGameStartRequest(map, hosted, ranked)
end
function ZKRGameDelegate:OnLobbyError(code)
    Versus.OnLobbyError(code)
end
function ZKRGameDelegate:OnGameHosted(result)
    Versus.OnGameHosted(result)
end
function ZKRGameDelegate:OnGameJoined(result)
    Versus.OnGameJoined(result)
end
function ZKRGameDelegate:OnGameDisconnected(reason)
    Versus.OnGameDisconnected(reason)
end
function ZKRGameDelegate:OnPlayerConnecting()
    return Versus.OnPlayerConnecting()
end
function ZKRGameDelegate:OnPlayerConnected(player)
    Versus.OnPlayerConnected(player)
end
function ZKRGameDelegate:OnPlayerReady(player)
    Versus.OnPlayerReady(player)
end
function ZKRGameDelegate:OnPlayerDisconnected(player, reason)
    Versus.OnPlayerDisconnected(player, reason)
end
function ZKRGameDelegate:OnPlayerConnectionStall(player)
    Versus.OnConnectionStall(player)
end
function ZKRGameDelegate:OnPlayerConnectionResume(player)
    Versus.OnConnectionResume(player)
end

-- ---- The scene listing's functions ----
-- A distribution package lists the scripts each scene runs: these run the scene's scripts
-- as the game does when it loads that scene, so that the host records their files. The
-- listing's call names no scene: the scripted scene is the mission's. SceneSequences.lua
-- replaces the two sequence functions with the scene's own.

function ReportLocalSceneLuaFiles(sceneName)
    Flow.RunSceneScripts(sceneName)
end

function RegisterAllScriptSequences() end
function UnregisterAllScriptSequences() end
function ReportLocalSceneResources() end
