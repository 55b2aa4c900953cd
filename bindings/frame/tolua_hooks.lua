-- Hooks of the binding generator (tolua++5.1 -L), loaded before every package of the
-- bindings library. They bend the generated code to the binding frame
-- (LuaBindingSupport.h) without editing any generated file:
--   * every object argument (self included) is read by the checked reader, which
--     accepts only live objects of the declared class or its subclasses;
--   * a null self, a null where the native takes a reference, or a dead handle anywhere
--     among the arguments rejects the call: nothing runs and nothing is returned;
--   * results and variables typed "const T" by pointer or reference are pushed as
--     script-owned copies, never as pointers into engine objects or static storage;
--     values returned by value are already fresh copies and are pushed as they are;
--   * `delete` runs the class collector once and kills the handle;
--   * UTF-16 text pointers ("unichar") cross as light userdata and are read back only
--     as the start of a live buffer of the host's registry;
--   * every class gets a collector, so no script-owned object reaches tolua++'s
--     default free().

local function strip_const(t)
  if type(t) ~= 'string' then return '' end
  return (string.gsub(t, '^%s*const%s+', ''))
end

local function reader(t)
  return 'LuaBindingReader{"' .. strip_const(t) .. '"}'
end

-- The function whose code is being written, while classFunction.supcode runs.
local current_function = nil

-- An argument of the class the function is registered in (self, most often) is first
-- tested against that class's table, which the registered function carries
-- (LuaBindingFunction).
function get_to_function(t)
  local f = current_function
  local class = f and f.parent and f.parent.classtype == 'class' and f.parent.type
  if class and strip_const(t) == class then
    return 'LuaBindingReader{"' .. class .. '", true}'
  end
  return reader(t)
end

function get_push_function(t)
  if type(t) ~= 'string' then return 'LuaBindingPushObject' end
  -- UTF-16 text pointers cross as light userdata, never as copies.
  if strip_const(t) == 'unichar' then return 'LuaBindingPushObject' end
  local f = current_function
  if f and f.ptr == '' and strip_const(f.type) == strip_const(t) then
    return 'LuaBindingPushOwned'  -- a value return, already copied by the binding
  end
  if string.find(t, '^%s*const%s') then
    return 'LuaBindingPushCopy<' .. strip_const(t) .. '>'
  end
  return 'LuaBindingPushTyped<' .. strip_const(t) .. '>'
end

local function script_name(f)
  local class = f:inclass()
  return (class and (class .. '.') or '') .. (f.lname or f.name)
end

local function is_object(arg)
  return arg.type ~= '' and arg.type ~= 'void' and not isbasic(arg.type)
end

local base_function_supcode = classFunction.supcode
function classFunction:supcode(local_constructor)
  local previous = current_function
  current_function = self
  self.frame_static = string.find(self.mod, '^%s*static') ~= nil
  base_function_supcode(self, local_constructor)
  current_function = previous
end

-- Runs after the arguments are read, before the native is called.
function pre_call_hook(f)
  local class = f:inclass()
  local name = script_name(f)
  if class and f.name == 'delete' then
    output('  LuaBindingDelete(tolua_S, "' .. name .. '");')
    output('  return 0;')
    return
  end
  local nulls = {}
  if class and f.name ~= 'new' and not f.frame_static then
    table.insert(nulls, '!self')
  end
  local i = 1
  while f.args[i] do
    local a = f.args[i]
    if is_object(a) and a.ptr == '&' and a.name ~= '' then
      table.insert(nulls, '!' .. a.name)
    end
    i = i + 1
  end
  local cond = #nulls > 0 and table.concat(nulls, ' || ') or 'false'
  output('  if (LuaBindingRejected(tolua_S, ' .. cond .. ', "' .. name .. '")) return 0;')
end

-- Variables: a getter or setter rejects a null self, and a setter of an object value
-- rejects a missing or dead value. The guard goes right after self is read.
local base_variable_supcode = classVariable.supcode
function classVariable:supcode()
  local class = self:inclass()
  local static = string.find(self.mod, '^%s*static') ~= nil
  local name = (class and (class .. '.') or '') .. (self.lname or self.name)
  local value_object = is_object(self) and self.ptr == ''
  local base_output = output
  local in_setter = false
  output = function(...)
    local args = {...}
    for _, a in ipairs(args) do
      if type(a) == 'string' and string.find(a, 'tolua_set') then in_setter = true end
    end
    base_output(...)
    if class and not static and args[#args] == '(tolua_S,1,0);' then
      local cond = '!self'
      if in_setter and value_object then
        cond = cond .. ' || !' .. reader(self.type) .. '(tolua_S,2,0)'
      end
      base_output('\n  if (LuaBindingRejected(tolua_S, ' .. cond .. ', "' .. name .. '")) return 0;')
    end
  end
  base_variable_supcode(self)
  output = base_output
end

-- Every class gets a collector: the generator's own one (destructor and engine free)
-- where it made one, otherwise the frame's. The engine's own objects, which a script can
-- never own (its singletons, and classes of which no script-owned value is ever made),
-- are registered without one.
local engine_owned = {
  EngineCore = {VornexEngine = true, LuaWrapper = true, Game = true, SequenceSystem = true,
                SequenceActionFactory = true, SequenceSpawner = true, GameConsole = true, EngineTimer = true,
                Profiler = true, ShaderManager = true, LUAConfigHelper = true, PostprocessManager = true},
  Camera = {BaseCamera = true, YawPitchCamera = true, LCBaseCameraSubcontroller = true,
            LCRTSCameraSubcontroller = true, GameCameraController = true},
  Sound = {SoundEngine = true, SoundEntriesContainer = true},
  Video = {VideoEngine = true},
}
engine_owned.Multiplayer = {Player = true, MultiplayerEngine = true}
engine_owned.GameDelegate = {GamerProfile = true, GameDelegate = true, LuaGameDelegate = true,
                             SteamLeaderboardsManager = true}
-- The entity package's engine objects: the manager, the layer system, every entity kind
-- and the aiming animations that meshes own.
engine_owned.Entity = {EntityManager = true, EntityLayerSystem = true, Entity = true, LightEntity = true,
                       MeshEntity = true, ProceduralTargetingAnimation = true, FlagEntity = true,
                       GraphEntity = true, TriggerEntity = true, CompoundEntity = true, ParticleEntity = true,
                       SFXEntity = true, SceneParametersEntity = true, InGameUIEntity = true,
                       ColorEnvelopeEntity = true}
local base_class_register = classClass.register
function classClass:register(pre)
  if not _collect[self.type] and not (engine_owned[flags.n] or {})[self.type] then
    _collect[self.type] = 'LuaBindingCollect<' .. self.type .. '>'
  end
  base_class_register(self, pre)
end

-- The type names each package declares, in its order, before its classes (a name may
-- belong to another package; declaring it twice is harmless). Names a package's
-- bindings mention beyond its list follow in alphabetical order, so the generated
-- declarations never depend on the generator's table order.
local type_names = {
  EngineCore = {'LuaUnicodeString', 'VornexEngine', 'Profiler', 'GameTimer', 'OutlineParams', 'LuaWrapper',
                'GameCameraController', 'Vector', 'PostprocessManager', 'SimpleGUID', 'RTTIPropertiesBase',
                'UITextBase', 'unichar', 'SequenceActionFactory', 'LUAConfigHelper', 'SequenceSystem', 'GameConsole',
                'EngineTimer', 'Time', 'UIScreen', 'Game', 'SequenceSpawner', 'ShaderManager'},
  Math = {'Quaternion', 'Vector', 'BoundingBox4', 'OBBox4', 'Matrix'},
  Camera = {'Matrix', 'YawPitchCamera', 'PerspectiveCamera', 'TargetViewCamera', 'GameCameraController', 'Vector',
            'LCRTSCameraSubcontroller', 'LCBaseCameraSubcontroller', 'Quaternion', 'BoundingBox4', 'BaseCamera'},
  CharacterController = {'Entity', 'VerySimpleCharacterController', 'Vector', 'Matrix'},
}
type_names.Multiplayer = {'Entity', 'Player', 'MultiplayerEngine', 'LuaUnicodeString'}
type_names.GameDelegate = {'LeaderboardViewer', 'LuaGameDelegate', 'SteamLeaderboardsManager', 'GameDelegate',
                           'GamerProfile'}

-- The entity package's type names, in its order.
type_names.Entity = {'NearEntitiesGatherer', 'ColorEnvelopeEntity', 'SFXEntity', 'Vector', 'Entity', 'Vector3',
                     'SimpleGUID', 'AnimationParams', 'OBBox4', 'LOSResult', 'EntityLayerSystem',
                     'LuaEntityPointer', 'ProceduralTargetingAnimation', 'UIElement', 'GameTimer', 'MeshEntity',
                     'EntityBlender', 'ReplicatedAnim', 'GraphEntity', 'AnimationSoundSyncObject', 'LightEntity',
                     'ParticleEntity', 'EntityManager', 'Matrix', 'EntitiesVicinityMonitor', 'InGameUIEntity',
                     'SceneParametersEntity', 'SoundParamWrapper', 'Player', 'EntitySetIterator',
                     'TriggerEntity', 'LuaProcTgtAnimPointer', 'CompoundEntity', 'FlagEntity', 'BoundingBox4'}

-- The game's packages: their type names in order, and the engine's objects among their
-- classes (the delegate, the profile, the walk-map namespace).
type_names.GameProfileCamera = {'ZKRGameDelegate', 'LuaGameDelegate', 'LCZKRGamerProfile', 'GamerProfile',
                                'ZKRCameraHelper', 'ZKRWalkMapUtils', 'Vector', 'Quaternion'}
engine_owned.GameProfileCamera = {ZKRGameDelegate = true, LCZKRGamerProfile = true, ZKRWalkMapUtils = true}
type_names.GameEntities = {'ZKRPlayerMarkerEntity', 'ZKRVersusPlayerMarkerEntity',
                            'ZKRTowerMarkerEntity', 'ZKRPickupMarkerEntity', 'ZKRTriggerEntity',
                            'ZKRScriptTriggerEntity', 'ZKRSquadScriptTriggerEntity',
                            'ZKRSquadZDirTriggerEntity', 'ZKREffectEntity',
                            'ZKRDamageSurfaceEntity', 'ZKRUsableEntity', 'ZKRGameEntity',
                            'ZKRTowerEntity', 'ZKRObstacleMarkerEntity',
                            'ZKRHelicopterPathFlagEntity', 'ZKRPathRendererEntity',
                            'ZKRMissionSelectorPathRenderer', 'ZKRAmbientSoundEntity',
                            'ZKRCheckpointEntity', 'ZKRProgressAreaTriggerEntity',
                            'ZKRRemoteConnectorArrayEntity', 'Entity', 'CompoundEntity',
                            'TriggerEntity', 'FlagEntity', 'UIElement', 'UIText', 'UITextBox',
                            'Vector'}
engine_owned.GameEntities = {}
for _, name in ipairs({'ZKRPlayerMarkerEntity', 'ZKRVersusPlayerMarkerEntity',
                       'ZKRTowerMarkerEntity', 'ZKRPickupMarkerEntity', 'ZKRTriggerEntity',
                       'ZKRScriptTriggerEntity', 'ZKRSquadScriptTriggerEntity',
                       'ZKRSquadZDirTriggerEntity', 'ZKREffectEntity', 'ZKRDamageSurfaceEntity',
                       'ZKRUsableEntity', 'ZKRGameEntity', 'ZKRTowerEntity',
                       'ZKRObstacleMarkerEntity', 'ZKRHelicopterPathFlagEntity',
                       'ZKRPathRendererEntity', 'ZKRAmbientSoundEntity', 'ZKRCheckpointEntity',
                       'ZKRProgressAreaTriggerEntity', 'ZKRRemoteConnectorArrayEntity'}) do
  engine_owned.GameEntities[name] = true
end
type_names.GameDesktop = {'PCMacProgressData', 'ZKRGameDelegate', 'LCZKRGamerProfile', 'PCMacGameDelegate',
                          'PCMacGamerProfile', 'PCMacAreaProgressData', 'SteamLeaderboardsManager',
                          'PCMacProgressAnalyzer'}
engine_owned.GameDesktop = {PCMacGamerProfile = true, PCMacGameDelegate = true, PCMacAreaProgressData = true}
-- The mission selector's route element follows the UI release rule.
local game_class_register = classClass.register
function classClass:register(pre)
  if flags.n == 'GameEntities' and self.type == 'ZKRMissionSelectorPathRenderer' then
    _collect[self.type] = 'LuaUIElementCollect'
  end
  game_class_register(self, pre)
end

local base_preamble = classPackage.preamble
function classPackage:preamble()
  local listed = type_names[flags.n] or {}
  local base_foreach = foreach
  foreach = function(t, f)
    if t ~= _usertype then return base_foreach(t, f) end
    local seen = {}
    for _, name in ipairs(listed) do
      seen[name] = true
      f(name, name)
    end
    local rest = {}
    for _, name in pairs(t) do
      if not seen[name] then
        seen[name] = true
        table.insert(rest, name)
      end
    end
    table.sort(rest)
    for _, name in ipairs(rest) do f(name, name) end
  end
  base_preamble(self)
  foreach = base_foreach
end

-- A sync object may outlive the script's hold on it (the animations started with it keep
-- it): its collector gives back the script's use instead of freeing it.
local entity_class_register = classClass.register
function classClass:register(pre)
  if flags.n == 'Entity' and self.type == 'AnimationSoundSyncObject' then
    _collect[self.type] = 'EntityBindingReleaseSyncObject'
  end
  entity_class_register(self, pre)
end

-- Set iterators made by `new` (which has no delete) live until the program ends.
local lasting_new = false
local entity_supcode = classFunction.supcode
function classFunction:supcode(local_constructor)
  local previous = lasting_new
  lasting_new = flags.n == 'Entity' and self.name == 'new' and not local_constructor and
                self.parent and self.parent.type == 'EntitySetIterator'
  entity_supcode(self, local_constructor)
  lasting_new = previous
end
local base_get_push_function = get_push_function
function get_push_function(t)
  if lasting_new and strip_const(t) == 'EntitySetIterator' then return 'EntityBindingPushLastingIterator' end
  return base_get_push_function(t)
end

-- The UI package. Its type names, in its order. Its element classes are released through
-- their own Release when a script-owned one is collected (LuaUIElementCollect, never a
-- memory release; bindings/manual/UI.h).
type_names.UI = {'LuaUnicodeString', 'Quaternion', 'StringReplacementContainer', 'UIVideo', 'UITextBox',
                 'UIPictureAtlas', 'Vector', 'Entity', 'UIPicture', 'Matrix', 'UIBlur', 'UICreditsHelper',
                 'GameStringPartitioner', 'UITemplateView', 'UIScreen', 'UIText', 'LuaUIPointer', 'UIElement',
                 'UIRoundedRect', 'UIUniTextInput', 'UIList', 'UITextBase'}
local ui_elements = {UIElement = true, UIPicture = true, UIList = true, UIPictureAtlas = true, UIBlur = true,
                     UIVideo = true, UITextBase = true, UIText = true, UITextBox = true, UIUniTextInput = true,
                     UITemplateView = true, UIRoundedRect = true, UIScreen = true}
local frame_class_register = classClass.register
function classClass:register(pre)
  if flags.n == 'UI' and ui_elements[self.type] then _collect[self.type] = 'LuaUIElementCollect' end
  frame_class_register(self, pre)
end
