/* The smallest SDL2 program for the browser check of tools/web/check_sdl2.sh: a 600x460 window,
   dark blue, with a red rectangle in its middle, drawn with SDL's default renderer. */
#include <SDL.h>
#include <emscripten.h>
#include <stdio.h>

static SDL_Renderer *renderer;

static void draw_frame(void) {
    SDL_SetRenderDrawColor(renderer, 0, 0, 64, 255);
    SDL_RenderClear(renderer);
    SDL_SetRenderDrawColor(renderer, 255, 0, 0, 255);
    SDL_Rect rect = {100, 100, 400, 260};
    SDL_RenderFillRect(renderer, &rect);
    SDL_RenderPresent(renderer);
}

int main(void) {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        printf("SDL_Init: %s\n", SDL_GetError());
        return 1;
    }
    SDL_Window *window = SDL_CreateWindow("SDL2 check", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 600, 460, 0);
    if (!window) {
        printf("SDL_CreateWindow: %s\n", SDL_GetError());
        return 1;
    }
    renderer = SDL_CreateRenderer(window, -1, 0);
    if (!renderer) {
        printf("SDL_CreateRenderer: %s\n", SDL_GetError());
        return 1;
    }
    SDL_RendererInfo info;
    SDL_GetRendererInfo(renderer, &info);
    SDL_version linked;
    SDL_GetVersion(&linked);
    printf("SDL %d.%d.%d, renderer %s\n", linked.major, linked.minor, linked.patch, info.name);
    SDL_SetWindowTitle(window, info.name);  /* shows as the page's title */
    emscripten_set_main_loop(draw_frame, 0, 1);
    return 0;
}
