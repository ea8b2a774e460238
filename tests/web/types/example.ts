// A typed page against localservice.d.ts (checked with tsc --noEmit by the
// web_types test): the README's example, errors by kind, the events.
import * as LocalService from "../../../tools/web/localservice.js";
import type { Connection, WindowHandle } from "../../../tools/web/localservice.js";

export async function page(element: HTMLElement): Promise<WindowHandle> {
  const service: Connection = await LocalService.connect({ login: await LocalService.makeLogin("user@example.com"),
                                                           transports: ["websocket", "http"], webSocketTimeoutMs: 8000 });
  service.addEventListener("transportchange", (e) => console.log(e.detail.kind, e.detail.previousKind));
  service.addEventListener("reconnect", (e) => console.log(e.detail.kind === "websocket", e.detail.previousUuid));
  const wall = await service.attach(element, { embed: true, offset: () => ({ left: 0, top: 0 }) });
  await wall.video.layout(4);
  const played = await wall.video.play("rtsp://127.0.0.1:8554/live", { wndIndex: 0, until: "firstFrame" });
  const index: number = played.wndIndex;
  const info = await wall.video.info({ wndIndex: index });
  if (info.state === "playing") await wall.video.select(index);
  wall.addEventListener("window.onPluginEventHandler", (e) => console.log(e.detail.event, e.detail.wndIndex));
  wall.addEventListener("window.onMouseEvent", (e) => console.log(e.detail.mouseInfo.type));
  wall.addEventListener("fullscreenchange", (e) => console.log(e.detail.full, e.detail.by));
  wall.addEventListener("error", (e) => console.log(e.detail.kind));
  try {
    await service.request("video.getPlayInfo", { wndIndex: 0 }, { timeoutMs: 500 });
  } catch (e) {
    if (e instanceof LocalService.LocalServiceError && e.kind === "bad-option") console.log(e.option);
  }
  const path: string = (await wall.video.snapshot({ format: "png" })).path;
  console.log(path, wall.connection.kind);
  // @ts-expect-error: not a transport
  await LocalService.connect({ transports: ["bogus"] });
  // @ts-expect-error: until takes "answer" or "firstFrame"
  await wall.video.play("rtsp://127.0.0.1:8554/live", { until: "picture" });
  return wall;
}
