// Emscripten helpers that this SDL's browser audio calls without asking for them: linking this
// library, with vantor_web_deps among the functions to include, brings them in.
mergeInto(LibraryManager.library, {
  vantor_web_deps__deps: ["$autoResumeAudioContext", "$dynCall"],
  vantor_web_deps: function () {},
});
