#pragma once
// The subcommands of the `thermal` tool. Each takes the arguments after its own name and returns
// the process exit status: 0 success, 1 failure during work, 2 bad input or usage.

// `thermal convert INPUT OUTPUT [options]`: recordings into other formats.
int RunConvert(int argc, char** argv);
// `thermal info FILE...`: what recordings hold and what is wrong with them.
int RunInfo(int argc, char** argv);
// `thermal record --port NAME OUTPUT.{bds,txt,avi} [options]`: records from the module.
int RunRecord(int argc, char** argv);
// `thermal publish --port NAME --broker URL --topic PREFIX [options]`: the module on a broker.
int RunPublish(int argc, char** argv);
// `thermal stream --port NAME [options]`: the module's frames to standard output as they come.
int RunStream(int argc, char** argv);
int RunSim(int argc, char** argv);
