-- The UI package's element base from scripts: flags, placement, actions, lookup, and the
-- lifetime of elements and of the script's handles to them.

local function Dead(handle)
    local ok, message = pcall(function() return handle.GetId end)
    return not ok and string.find(tostring(message), "attempt to use a dead", 1, true) ~= nil
end

local function HasBit(word, bit)
    return math.floor(word / bit) % 2 == 1
end

-- A screen for one case; released at its end with everything under it.
local function WithScreen(body)
    local screen = UIScreen.new()
    local ok, message = pcall(body, screen)
    screen:Release()
    if not ok then error(message, 0) end
end

Test("the constants scripts combine keep their values", function()
    local cases = {
        {"UIFLAG_PIXELPERFECTFONT", 96}, {"UIFLAG_HIDDEN", 2}, {"UIFLAG_BLOCKFOCUS", 536870912},
        {"UIACTIONFLAG_REPEAT", 8}, {"UIACTIONFLAG_GAMEPLAYTIME", 16}, {"UIACTIONFLAG_SYSTEMTIME", 32},
        {"UIACTIONFLAG_REMOVEOTHERACTIONS", 64}, {"UIACTIONFLAG_DONOTWAIT", 128},
        {"UIENTITYTRACKING_SURVIVEENTITYDEATH", 32}, {"UIENTITYTRACKING_HIDEWITHENTITY", 64},
        {"PICTUREATLAS_POSITION3", 0}, {"PICTUREATLAS_COLOR4", 3},
    }
    for _, c in ipairs(cases) do AssertEqual(_G[c[1]], c[2], c[1]) end
end)

Test("flags, placement and colour reach both copies of the element", function()
    WithScreen(function(screen)
        local e = UIElement.new()
        screen:AddChild(e)
        e:RaiseFlag(UIFLAG_PIXELPERFECTFONT)
        AssertEqual(screen:FindElementByFlag(96, 96), e, "both bits raised (main copy)")
        AssertTrue(HasBit(UIFixture.Flags(e), 32) and HasBit(UIFixture.Flags(e), 64), "both bits raised (render copy)")
        e:ClearFlag(32)
        AssertEqual(screen:FindElementByFlag(96, 96), nil, "one bit cleared")
        e:SetPosition(10, 20)
        AssertEqual(table.concat({UIFixture.Position(e)}, " "), "10 20 0 0", "z of the short form")
        e:SetColor(1, 0, 0)
        AssertEqual(select(4, UIFixture.Color(e)), 1, "alpha of the short form")
        local cases = {
            {function() e:Hide() end, false, "after Hide"},
            {function() e:Show() end, true, "after Show"},
            {function() e:BlendOutAndHide(1) end, false, "right after BlendOutAndHide"},
            {function() e:ShowAndBlendIn(1) end, true, "right after ShowAndBlendIn"},
        }
        for _, c in ipairs(cases) do
            c[1]()
            AssertEqual(e:IsVisible(), c[2], c[3])
        end
    end)
end)

Test("actions: the channels RemoveAllActions clears, and the flags ShowAndBlendIn adds", function()
    WithScreen(function(screen)
        local e = UIElement.new()
        screen:AddChild(e)
        for channel = 0, 3 do e:Move2(1, 5, 5, 0, channel) end
        for channel = 0, 3 do AssertEqual(UIFixture.Actions(e, channel), 1, "queued on " .. channel) end
        e:RemoveAllActions()
        for channel = 0, 3 do AssertEqual(UIFixture.Actions(e, channel), 0, "cleared on " .. channel) end
        e:ShowAndBlendIn(1, UIACTIONFLAG_SINE, 2)
        local count, flags = UIFixture.Actions(e, 2)
        AssertEqual(count, 1, "the fade-in")
        AssertTrue(HasBit(flags, UIACTIONFLAG_REMOVEOTHERACTIONS), "flags with 64")
        AssertEqual(flags % 8, UIACTIONFLAG_SINE, "the curve kept")
        e:RemoveAllActions()
        -- Delete takes exactly its flags, where the other actions add the default ones.
        e:SetDefaultActionFlags(UIACTIONFLAG_GAMEPLAYTIME)
        e:Wait(1, 0, 1)
        AssertEqual(select(2, UIFixture.Actions(e, 1)), UIACTIONFLAG_GAMEPLAYTIME, "Wait's flags")
        e:Delete(UIACTIONFLAG_DONOTWAIT, 3)
        AssertEqual(select(2, UIFixture.Actions(e, 3)), UIACTIONFLAG_DONOTWAIT, "Delete's flags")
        e:RemoveAllActions()
    end)
end)

Test("a replacement container stores a number as its text", function()
    local c = StringReplacementContainer:Instance()
    c:Add("n", 42)
    c:Add("s", "text")
    c:Add("f", 2.9)
    local cases = {{0, "n", "42"}, {1, "s", "text"}, {2, "f", "2"}}
    for _, case in ipairs(cases) do
        local tag, text = UIFixture.Entry(c, case[1])
        AssertEqual(tag .. "=" .. text, case[2] .. "=" .. case[3], "entry " .. case[1])
    end
end)

Test("found elements arrive under the script class they were given", function()
    UIFixture.RegisterClass("TestPanel", "UIElement")
    WithScreen(function(screen)
        local panel = UIElement.new()
        panel:SetName("panel")
        panel:SetLuaClass("TestPanel")
        screen:AddChild(panel)
        local cases = {
            {screen:FindElementByName("panel"), "TestPanel", "by name"},
            {screen:FindElementById(panel:GetId()), "TestPanel", "by id"},
            {screen:GetFirstChild(), "TestPanel", "first child"},
            {panel:GetParent(), "UIScreen", "parent"},
            {screen:FindElementByName("none"), nil, "nothing found"},
        }
        for _, c in ipairs(cases) do AssertEqual(c[1] and tolua.type(c[1]), c[2], c[3]) end
        AssertEqual(panel:GetName(), "panel", "name")
    end)
end)

Test("a script class outside the element's line or kind is not used, and its handle still dies", function()
    WithScreen(function(screen)
        -- A bound class the element is not, directly or as a script class's base, is not used.
        UIFixture.RegisterClass("FakeInput", "UIUniTextInput")
        local cases = {{"NoSuchClass", "UIElement"}, {"Vector", "UIElement"}, {"UIUniTextInput", "UIElement"},
                       {"FakeInput", "UIElement"}, {"TestPanel", "TestPanel"}}
        for _, c in ipairs(cases) do
            local e = UIElement.new()
            e:SetLuaClass(c[1])
            screen:AddChild(e)
            AssertEqual(tolua.type(screen:GetFirstChild()), c[2], c[1] .. ": found as")
            e:Release()
            AssertTrue(Dead(e), c[1] .. ": dead handle")
        end
    end)
end)

Test("an unknown recipe gives nil and logs its line", function()
    local before = Runner.Warnings("Recipe [NoSuchRecipe] not found!")
    AssertEqual(Results(UIElement:CreateFromRecipe("NoSuchRecipe", "")), "1 nil", "one nil result")
    AssertEqual(Runner.Warnings("Recipe [NoSuchRecipe] not found!"), before + 1, "the line")
end)

Test("a script-owned element dropped unattached is released once", function()
    local teardowns, frees = UIFixture.Teardowns(), UIFixture.Frees()
    local e = UIFixture.Recording(true)
    AssertTrue(UIFixture.Owned(e), "the script's")
    e = nil
    collectgarbage()
    collectgarbage()
    UIFixture.CollectionStep()
    AssertEqual(UIFixture.Teardowns(), teardowns + 1, "released")
    AssertEqual(UIFixture.Frees(), frees + 1, "freed")
end)

Test("a script-owned element in a tree lives while the tree does, and is released once with it", function()
    local screen = UIScreen.new()
    local teardowns = UIFixture.Teardowns()
    local pointer
    do
        local e = UIFixture.Recording(true)
        screen:AddChild(e)
        AssertFalse(UIFixture.Owned(e), "the tree's")
        pointer = LuaUIPointer:Instance(e)
    end
    collectgarbage()
    collectgarbage()
    UIFixture.CollectionStep()
    AssertEqual(UIFixture.Teardowns(), teardowns, "kept by the tree")
    AssertFalse(pointer:IsNull(), "still shown")
    local child = pointer:Get()
    child:SetPosition(1, 2)
    child = nil
    collectgarbage()
    AssertEqual(UIFixture.Teardowns(), teardowns, "a second handle's collection keeps it too")
    screen:Release()
    AssertEqual(UIFixture.Teardowns(), teardowns + 1, "released with the screen")
    AssertTrue(pointer:IsNull(), "pointer emptied")
    collectgarbage()
    AssertEqual(UIFixture.Teardowns(), teardowns + 1, "released once")
end)

Test("a collection inside a call releases nothing before the host's collection step", function()
    local teardowns = UIFixture.Teardowns()
    local root = UIFixture.Recording(true)
    local child = UIFixture.Recording(false)
    root:AddChild(child)
    root = nil
    collectgarbage()
    collectgarbage()
    AssertEqual(UIFixture.Teardowns(), teardowns, "nothing released by the collection")
    AssertFalse(Dead(child), "the child's handle lives")
    child:SetName("still here")
    AssertEqual(child:GetName(), "still here", "the child is usable")
    UIFixture.CollectionStep()
    AssertEqual(UIFixture.Teardowns(), teardowns + 2, "the root released with its child")
    AssertTrue(Dead(child), "then the child's handle is dead")
    UIFixture.CollectionStep()
    AssertEqual(UIFixture.Teardowns(), teardowns + 2, "released once")
end)

Test("a script-owned element a native keeps shown is the engine's from then on", function()
    WithScreen(function(screen)
        local input = UIUniTextInput:new("font")
        screen:AddChild(input)
        local shown = {
            {"cursor", UIElement.new_local(), function(e) input:SetCursorElement(e) end},
            {"active screen", UIScreen.new_local(), function(e) gGame:SetActiveUIScreen(e) end},
            {"pre-FSE screen", UIScreen.new_local(), function(e) gGame:SetPreFSEUIScreen(e) end},
            {"loading screen", UIScreen.new_local(), function(e) gGame:SetLoadingUIScreen(e) end},
        }
        for _, c in ipairs(shown) do
            AssertTrue(UIFixture.Owned(c[2]), c[1] .. ": the script's before")
            c[3](c[2])
            AssertFalse(UIFixture.Owned(c[2]), c[1] .. ": the engine's after")
        end
        local screens = {}
        for i = 2, 4 do screens[#screens + 1] = LuaUIPointer:Instance(shown[i][2]) end
        shown = nil
        collectgarbage()
        collectgarbage()
        UIFixture.CollectionStep()
        for i, p in ipairs(screens) do AssertFalse(p:IsNull(), "screen " .. i .. " survives its handle") end
        AssertEqual(gGame:GetActiveUIScreen(), screens[1]:Get(), "the active one is still shown")
        gGame:SetActiveUIScreen(nil)
        gGame:SetPreFSEUIScreen(nil)
        gGame:SetLoadingUIScreen(nil)
        for _, p in ipairs(screens) do p:Get():Release() end
    end)
end)

Test("a script-made element the memory guard lets go of is the script's again", function()
    UIElement:EnableUIMemoryGuard()
    local e = UIElement.new_local()
    local guard = e:GetParent()
    guard:AddChild(e)
    AssertFalse(UIFixture.Owned(e), "in the guard's tree")
    UIElement:UIMemoryGuardReportElement(e)
    AssertEqual(e:GetParent(), nil, "out of every tree")
    AssertTrue(UIFixture.Owned(e), "handed back")
    local pointer = LuaUIPointer:Instance(e)
    e = nil
    collectgarbage()
    collectgarbage()
    UIFixture.CollectionStep()
    AssertTrue(pointer:IsNull(), "released by its collection")
    UIElement:DisableUIMemoryGuard()
end)

Test("an element taken out of its tree is the script's again", function()
    WithScreen(function(screen)
        local teardowns = UIFixture.Teardowns()
        local e = UIFixture.Recording(true)
        screen:AddChild(e)
        screen:RemoveChild(e)
        AssertTrue(UIFixture.Owned(e), "handed back")
        e = nil
        collectgarbage()
        collectgarbage()
        UIFixture.CollectionStep()
        AssertEqual(UIFixture.Teardowns(), teardowns + 1, "released by its collection")
        -- One the engine made stays the engine's.
        local engine = UIFixture.Recording(false)
        screen:AddChild(engine)
        screen:RemoveChild(engine)
        AssertFalse(UIFixture.Owned(engine), "an engine element")
        engine:Release()
    end)
end)

Test("every teardown kills the handles and empties the pointers", function()
    local cases = {
        {"Release", function(e, parent) e:Release() end},
        {"an ancestor's release", function(e, parent) parent:Release() end},
        {"DeleteChildren", function(e, parent) parent:DeleteChildren() end},
        {"a Delete action firing", function(e, parent)
            e:Delete(0, 0)
            UIFixture.Fire(e)
        end},
    }
    for _, c in ipairs(cases) do
        local screen = UIScreen.new()
        local parent = UIElement.new()
        screen:AddChild(parent)
        local e = UIElement.new_local()
        parent:AddChild(e)
        local pointer = LuaUIPointer:Instance(e)
        AssertFalse(Dead(e), c[1] .. ": alive before")
        c[2](e, parent)
        AssertTrue(Dead(e), c[1] .. ": dead handle")
        AssertEqual(pointer:Get(), nil, c[1] .. ": pointer")
        AssertTrue(pointer:IsNull(), c[1] .. ": IsNull")
        AssertEqual(Results(UIElement.GetId(e)), "0", c[1] .. ": a call with it returns nothing")
        screen:Release()
    end
end)

Test("an element made where a freed one was has a live handle of its own", function()
    local old = UIFixture.Recording(false)
    local address = UIFixture.Address(old)
    old:Release()
    local fresh = UIFixture.Recording(false)
    AssertEqual(UIFixture.Address(fresh), address, "the same block")
    AssertFalse(Dead(fresh), "live")
    AssertTrue(Dead(old), "the old handle stays dead")
    fresh:Release()
end)

Test("text elements: a nil text is empty, and the size defaults to 10", function()
    WithScreen(function(screen)
        local cases = {
            {UIText:new(nil, "font"), 0, 10},
            {UIText:new("hi", "font"), 2, 10},
            {UIText:new("hi", "font", 24), 2, 24},
        }
        for i, c in ipairs(cases) do
            screen:AddChild(c[1])
            AssertEqual(UIFixture.TextLength(c[1]), c[2], "characters of case " .. i)
            AssertEqual(UIFixture.FontSize(c[1]), c[3], "size of case " .. i)
        end
    end)
end)
