// Types of localservice.global.js: the global LocalService has the members
// of the module.
import type * as Module from "./localservice.js";

declare global {
  const LocalService: typeof Module;
}
