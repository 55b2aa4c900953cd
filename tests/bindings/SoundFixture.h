#pragma once
// The sound and video engines the sound and video cases work on, added to the table
// Fixture of the script state (EntityFixture.h):
//   Fixture.SoundEngine()      gSoundEngine, started on first use without its thread over
//                              the manual output; each call runs one wake, so whatever
//                              was posted before runs now
//   Fixture.SoundCommands()    takes every record out of the sound thread's ring, unrun:
//                              a list of {id, size, u32 = {...}, f32 = {...}}, the
//                              payload's 4-byte words read both ways
//   Fixture.LoaderCommands()   the ids of the records in the loader's ring, taken out
//                              (an empty list while the loader runs)
//   Fixture.SoundChannel(i)    the volume and frequency-ratio targets of channel i (the
//                              values themselves once a fade is done)
//   Fixture.VideoEngine()      gVideoEngine, with a one-second clip "clip" (made by
//                              ffmpeg) in the mounted "videos" folder, the loader
//                              running and a manual clock; each call updates the video
//   Fixture.PlayVideo(steps)   once the player's headers are read, steps 30 ms of clock,
//                              sound and video while a video plays, at most steps times;
//                              the steps taken
//   Fixture.VideoFullScreen()  the engine's full-screen flag
//   Fixture.Voices()           the volumes of the audio engine's voices, in a list
//   Fixture.Sounds()           the loader started over the "sounds" folder, which holds
//                              "tone.wav" (sox) and "tone.ogg" (oggenc), 0.3 s each
//   Fixture.StepSound(n)       n steps of 30 ms of sound (1 when not given)
//   Fixture.SoundInstances()   how many sound instances the sound thread keeps
// A state may take 5,000 steps in all (StepSound and PlayVideo); past them they do nothing.
struct lua_State;

void OpenSoundFixture(lua_State* L);
// Stops what the fixture started (the "videos" mount stays).
void CloseSoundFixture();
