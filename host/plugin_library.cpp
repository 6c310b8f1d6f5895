// The plug-in library itself: everything it holds comes from the core archive,
// pluginFun among it. Nothing runs when the library is loaded.
