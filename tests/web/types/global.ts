// The plain script's global, typed by localservice.global.d.ts.
/// <reference path="../../../tools/web/localservice.global.d.ts" />
export const connected: Promise<string> = LocalService.connect({ portStart: 33686 }).then((service) => service.uuid);
