-- Screens from UI recipes (ScreenFromRecipe, for the menu and loading screens too) and
-- the mission's: the HUD (recipe "UI/Hud": survivors, towers, seconds left and
-- airstrikes) and the result (recipe "UI/Result": the result and the score).

Hud = {}

local HUD_RECIPE = "UI/Hud"
local RESULT_RECIPE = "UI/Result"
local COUNTERS = {"Survivors", "Towers", "Seconds", "Airstrikes"}
local RESULT_TEXTS = {won = "Result/Won", lost = "Result/Lost", abandoned = "Result/Abandoned"}

local hudScreen = LuaUIPointer:Instance()
local counters = {}
local shown = {}

-- A screen holding the element tree of a UI recipe template, drawn over the scene unless
-- blocksScene; nil when the template cannot be built (CreateFromRecipe has logged why).
function Hud.ScreenFromRecipe(templateName, blocksScene)
    local tree = UIElement:CreateFromRecipe(templateName, nil)
    if tree == nil then
        return nil
    end
    local screen = UIScreen:new()
    screen:AddChild(tree)
    if not blocksScene then
        screen:SetBlocksSceneRendering(false)
    end
    return screen
end

function Hud.Show()
    local screen = Hud.ScreenFromRecipe(HUD_RECIPE, false)
    if screen == nil then
        return
    end
    gGame:SetActiveUIScreen(screen)
    hudScreen:Set(screen)
    for _, name in ipairs(COUNTERS) do
        local pointer = LuaUIPointer:Instance()
        pointer:Set(screen:FindElementByName(name .. "Count"))
        counters[name] = pointer
        shown[name] = nil
    end
end

-- Sets the counters that changed: values by counter name.
function Hud.Update(values)
    for _, name in ipairs(COUNTERS) do
        local value = values[name]
        local pointer = counters[name]
        if value ~= nil and value ~= shown[name] and pointer ~= nil then
            local text = pointer:Get()
            if text ~= nil then
                ZKRHackedSetCounterText(text, value, false)
                shown[name] = value
            end
        end
    end
end

-- The result screen over the scene: the result's text and the score.
function Hud.ShowResult(result, score)
    local screen = Hud.ScreenFromRecipe(RESULT_RECIPE, false)
    if screen == nil then
        return
    end
    local text = screen:FindElementByName("ResultText")
    if text ~= nil then
        text:SetLocalizedText(RESULT_TEXTS[result])
    end
    local scoreText = screen:FindElementByName("ScoreText")
    if scoreText ~= nil then
        ZKRHackedSetCounterText(scoreText, score, false)
    end
    gGame:SetActiveUIScreen(screen)
    hudScreen:SetNull()
end
