-- The UI package's element kinds from scripts: the text input, screens, video elements,
-- atlas pictures, the string partitioner and the credits reader.

local function WithScreen(body)
    local screen = UIScreen:new()
    local ok, message = pcall(body, screen)
    screen:Release()
    if not ok then error(message, 0) end
end

local function Typed(input, count)
    for _ = 1, count do input:ProcessKeyCharEvent(65) end
    return input:GetCurrentLength()
end

Test("a text input keeps at most its maximum, 255 unless given", function()
    WithScreen(function(screen)
        local cases = {
            {UIUniTextInput:new("font"), 256, 255},
            {UIUniTextInput:new("font", 10, true, 3), 4, 3},
            {UIUniTextInput:new("font", 10, true, 0), 2, 1},
        }
        for i, c in ipairs(cases) do
            screen:AddChild(c[1])
            AssertEqual(Typed(c[1], c[2]), c[3], "characters kept, case " .. i)
        end
    end)
end)

Test("a text input's maximum is clamped with one warning", function()
    WithScreen(function(screen)
        local cases = {{4e9, "clamped to 65535"}, {-1, "clamped to 1"}, {65535, nil}}
        for _, c in ipairs(cases) do
            local before = Runner.Warnings("maximum length")
            local input = UIUniTextInput:new("font", 10, true, c[1])
            screen:AddChild(input)
            AssertEqual(Runner.Warnings("maximum length") - before, c[2] and 1 or 0, "warnings for " .. c[1])
            if c[2] then AssertEqual(Runner.Warnings(c[2]) >= 1, true, c[2]) end
        end
    end)
end)

Test("the input's text: a terminated copy, and a pointer that dies with the input", function()
    local screen = UIScreen:new()
    local input = UIUniTextInput:new("font", 10, true, 8)
    screen:AddChild(input)
    Typed(input, 5)
    local copy = input:GetInputStringLuaUnichar()
    AssertEqual(tolua.type(copy), "LuaUnicodeString", "a string of the script")
    AssertEqual(copy:GetLength(), 5, "length")
    AssertEqual(LuaUnicodeString:Instance(copy:GetUnicharPtr()):GetLength(), 5, "read to its terminator")
    local pointer = input:GetInputStringUnicharPtr()
    AssertEqual(type(pointer), "userdata", "a text pointer")
    AssertEqual(LuaUnicodeString:Instance(pointer):GetLength(), 5, "the live buffer")
    input:PasteString(copy:GetUnicharPtr())
    AssertEqual(input:GetCurrentLength(), 8, "pasted up to the maximum")
    screen:Release()
    AssertEqual(LuaUnicodeString:Instance(pointer):GetLength(), 0, "the released input's buffer reads as null")
    AssertEqual(copy:GetLength(), 5, "the copy outlives the input")
end)

Test("screens: both forms of the resolution agree; a hit test gives three results", function()
    WithScreen(function(screen)
        local static, member = UIScreen:GetPhysicalScreenResolution(), screen:GetPhysicalScreenResolution()
        AssertEqual(tolua.type(static), "Vector", "a vector")
        AssertEqual(string.format("%g %g", static.x, static.y), string.format("%g %g", member.x, member.y), "agree")
        static.x = static.x + 1
        AssertEqual(UIScreen:GetPhysicalScreenResolution().x, member.x, "a copy each time")
        local dotted = UIScreen.GetPhysicalScreenResolution()
        AssertEqual(tolua.type(dotted), "Vector", "with a dot and no arguments")
        AssertEqual(string.format("%g %g", dotted.x, dotted.y), string.format("%g %g", member.x, member.y), "dot agrees")
        AssertEqual(Results(screen:GetElementAt(Vector:Instance(0.5, 0.5, 0, 0), false, 7)), "3 number boolean number",
                    "three results")
        AssertEqual(select(3, screen:GetElementAt(Vector:Instance(5, 5, 0, 0), true, 7)), 7, "nothing hit: kept")
    end)
end)

Test("kinds as native code and scripts see them", function()
    WithScreen(function(screen)
        local cases = {
            {UIVideo:new(), "UIVideo", false, false},
            {UIVideo:new_local(), "UIVideo", false, false},
            {UIPicture:new(), "UIPicture", true, false},
            {UIPictureAtlas:new(), "UIPictureAtlas", true, false},
            {UIText:new("a", "font"), "UIText", false, true},
            {UITextBox:new("a", "font"), "UITextBox", false, true},
            {UIRoundedRect:new(), "UIRoundedRect", false, false},
            {UIBlur:new(), "UIBlur", false, false},
            {UIList:new(), "UIList", false, false},
            {UITemplateView:new("none"), "UITemplateView", false, false},
        }
        for _, c in ipairs(cases) do
            screen:AddChild(c[1])
            AssertEqual(tolua.type(c[1]), c[2], "script class")
            AssertEqual(c[1]:IsUIPicture(), c[3], c[2] .. " is a picture")
            AssertEqual(c[1]:IsUITextBase(), c[4], c[2] .. " is a text")
            AssertEqual(tolua.type(screen:FindElementById(c[1]:GetId())), c[2], c[2] .. " found")
        end
    end)
end)

Test("atlas data is posted only from a table", function()
    WithScreen(function(screen)
        local atlas = UIPictureAtlas:new()
        screen:AddChild(atlas)
        local cases = {{5, 0}, {"x", 0}, {nil, 0}, {{}, 0}, {{1, 2, 3}, 1}}
        for i, c in ipairs(cases) do
            UIFixture.RecordOps()
            atlas:SetAtlasData(PICTUREATLAS_POSITION3, 0, 4, c[1])
            AssertEqual(UIFixture.OpsPosted(), c[2], "ops posted, case " .. i)
        end
        -- The table is read from the caller's own stack, also inside a coroutine.
        UIFixture.RecordOps()
        local co = coroutine.create(function(t) atlas:SetAtlasData(PICTUREATLAS_POSITION3, 0, 4, t) end)
        assert(coroutine.resume(co, {1, 2, 3}))
        AssertEqual(UIFixture.OpsPosted(), 1, "ops posted from a coroutine")
    end)
end)

Test("the string partitioner starts with a fade time of 0.3", function()
    local p = GameStringPartitioner:Instance()
    AssertNear(UIFixture.FadeTime(p), 0.3, "fade time")
    p:SetTextFadeTime(2)
    AssertEqual(UIFixture.FadeTime(p), 2, "set")
    AssertEqual(p:GetSpeaker(), "", "no speaker")
    AssertFalse(p:StartGameStringPartitioning("none", nil, 1), "without an element")
end)

Test("the credits reader without a text is at its end", function()
    local cases = {UICreditsHelper:Instance(), UICreditsHelper:new_local()}
    for i, reader in ipairs(cases) do
        reader:Open("no such credits")
        AssertTrue(reader:IsEof(), "at the end, reader " .. i)
        AssertFalse(reader:IsTag() or reader:IsString(), "no token, reader " .. i)
        AssertEqual(reader:GetTag(), "", "no tag, reader " .. i)
    end
    local kept = UICreditsHelper:new()
    kept:delete()
    AssertEqual(Results(UICreditsHelper.IsEof(kept)), "0", "deleted")
end)

Test("the credits reader walks the tags and strings of a localised text", function()
    local reader = UICreditsHelper:Instance()
    reader:Open("Credits")
    local seen = {}
    while not reader:IsEof() and #seen < 10 do
        if reader:IsTag() then seen[#seen + 1] = "<" .. reader:GetTag() .. ">" end
        if reader:IsString() then
            local text = UIText:new_local(nil, "font")
            reader:TransferText(text, nil)
            seen[#seen + 1] = UIFixture.TextLength(text)
        end
        reader:SkipToken()
    end
    AssertEqual(table.concat(seen, " "), "<title> 8 <name> 13", "tokens")
    AssertTrue(reader:IsEof(), "at the end")
end)

Test("the string partitioner shows a localised string on a text element", function()
    WithScreen(function(screen)
        local text = UIText:new(nil, "font")
        screen:AddChild(text)
        local p = GameStringPartitioner:Instance()
        local missing = Runner.Warnings("is empty!")
        AssertTrue(p:StartGameStringPartitioning("Lines", text, 2), "started")
        AssertEqual(Runner.Warnings("is empty!"), missing, "the string found")
        AssertTrue(p:StartGameStringPartitioning("NoSuchString", text, 2), "started without a string")
        AssertEqual(Runner.Warnings("stringId NoSuchString is empty!"), 1, "its line")
    end)
end)
